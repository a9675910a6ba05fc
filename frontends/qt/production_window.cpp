#include "frontends/qt/production_window.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <system_error>
#include <utility>

#include "common/text_format.h"
#include "frontends/qt/file_filter.h"
#include "frontends/qt/template_widgets.h"
#include "handlers/ufs/descriptor_file.h"
#include "production/facts_source.h"
#include "production/job_file.h"
#include "ufs/versions.h"

namespace kt::qt {

namespace pr = kt::production;

// The run's reports, from its workers to the window's thread as queued signals.
class ProductionWindow::Sink final : public pr::RunSink {
public:
    explicit Sink(ProductionWindow& window) : window_(window) {}
    void StepStarted(int position, pr::Step step) override {
        emit window_.StepStarted(position, static_cast<int>(step));
    }
    void Progress(int position, std::uint64_t done, std::uint64_t total) override {
        emit window_.Progressed(position, done, total);
    }
    void StepEnded(int position, const pr::StepResult& result) override {
        emit window_.StepEnded(position, static_cast<int>(result.step), static_cast<int>(result.outcome),
                               QString::fromStdString(result.detail));
    }

private:
    ProductionWindow& window_;
};

namespace {

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QPlainTextEdit* ReadOnlyText(QWidget* parent, bool fixed_pitch) {
    auto* edit = new QPlainTextEdit(parent);
    edit->setReadOnly(true);
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    if (fixed_pitch) edit->setFont(PaneFont());
    return edit;
}

// What a programmer's row says when its part is done.
QString EndText(const pr::DeviceRecord& record) {
    QString text;
    if (record.Ok()) {
        text = QStringLiteral("Done: %1 bytes written, %2 MB/s")
                   .arg(record.BytesWritten())
                   .arg(record.WriteMBps(), 0, 'f', 1);
    } else if (const pr::StepResult* ended = record.Ended()) {
        text = QStringLiteral("%1 %2: %3")
                   .arg(Text(pr::StepName(ended->step)), Text(pr::OutcomeName(ended->outcome)),
                        QString::fromStdString(ended->detail));
        if (record.failed_sector) text += QStringLiteral(" (at sector %1)").arg(*record.failed_sector);
    }
    if (!record.report_failure.empty())
        text += QStringLiteral("; no record: ") + QString::fromStdString(record.report_failure);
    return text;
}

}  // namespace

ProductionWindow::ProductionWindow(QWidget* parent, CKT6200DemoDlg& logic, PositionSource position)
    : QDialog(parent), logic_(logic), position_(std::move(position)), sink_(std::make_unique<Sink>(*this)) {
    setWindowTitle(QStringLiteral("Production"));
    auto* column = new QVBoxLayout(this);
    BuildJobPart(*column);
    BuildRunPart(*column);
    connect(this, &ProductionWindow::StepStarted, this, &ProductionWindow::OnStepStarted,
            Qt::QueuedConnection);
    connect(this, &ProductionWindow::Progressed, this, &ProductionWindow::OnProgress, Qt::QueuedConnection);
    connect(this, &ProductionWindow::StepEnded, this, &ProductionWindow::OnStepEnded, Qt::QueuedConnection);
    connect(this, &ProductionWindow::RunEnded, this, &ProductionWindow::OnRunEnded, Qt::QueuedConnection);
    UpdateButtons();
    resize(900, 720);
}

ProductionWindow::~ProductionWindow() {
    // The workers report through this window until they end; what they queue after is dropped with it.
    running_.store(0);
    if (worker_.joinable()) worker_.join();
}

void ProductionWindow::BuildJobPart(QVBoxLayout& layout) {
    auto* top = new QHBoxLayout;
    open_ = new QPushButton(QStringLiteral("Open job..."), this);
    saved_ = new QPushButton(QStringLiteral("Plan from saved descriptors..."), this);
    job_label_ = new QLabel(QStringLiteral("No job open."), this);
    top->addWidget(open_);
    top->addWidget(saved_);
    top->addWidget(job_label_, 1);
    connect(open_, &QPushButton::clicked, this, [this] { ChooseJob(); });
    connect(saved_, &QPushButton::clicked, this, [this] { ChooseSaved(); });

    messages_ = ReadOnlyText(this, false);
    table_ = new QTableWidget(0, pr::kPlanColumns, this);
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Unit"), QStringLiteral("Memory"), QStringLiteral("Boot"), QStringLiteral("Asked"),
         QStringLiteral("Alloc units"), QStringLiteral("Granted"), QStringLiteral("Blocks")});
    table_->verticalHeader()->setVisible(false);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->horizontalHeader()->setStretchLastSection(true);
    bytes_ = ReadOnlyText(this, true);

    layout.addLayout(top);
    layout.addWidget(messages_, 1);
    layout.addWidget(new QLabel(QStringLiteral("Plan"), this));
    layout.addWidget(table_, 2);
    layout.addWidget(new QLabel(QStringLiteral("Configuration descriptor"), this));
    layout.addWidget(bytes_, 1);
}

void ProductionWindow::BuildRunPart(QVBoxLayout& column) {
    auto* box = new QGroupBox(QStringLiteral("Run"), this);
    auto* layout = new QVBoxLayout(box);
    auto* report = new QHBoxLayout;
    report_path_ = new QLineEdit(box);
    report_choose_ = new QPushButton(QStringLiteral("..."), box);
    report->addWidget(new QLabel(QStringLiteral("Report file:"), box));
    report->addWidget(report_path_, 1);
    report->addWidget(report_choose_);
    connect(report_choose_, &QPushButton::clicked, this, [this] { ChooseReport(); });

    auto* buttons = new QHBoxLayout;
    confirm_lock_ = new QCheckBox(QStringLiteral("Confirm configuration lock"), box);
    confirm_lock_->setVisible(false);
    run_open_ = new QPushButton(QStringLiteral("Run on open programmer"), box);
    run_all_ = new QPushButton(QStringLiteral("Run on all programmers"), box);
    stop_ = new QPushButton(QStringLiteral("Stop"), box);
    buttons->addWidget(confirm_lock_);
    buttons->addStretch(1);
    buttons->addWidget(run_open_);
    buttons->addWidget(run_all_);
    buttons->addWidget(stop_);
    connect(run_open_, &QPushButton::clicked, this, [this] { (void)StartRun(false); });
    connect(run_all_, &QPushButton::clicked, this, [this] { (void)StartRun(true); });
    connect(stop_, &QPushButton::clicked, this, [this] { StopRun(); });

    progress_ = new QGridLayout;
    progress_->setColumnStretch(1, 1);
    progress_->setColumnStretch(2, 2);
    layout->addLayout(report);
    layout->addLayout(buttons);
    layout->addLayout(progress_);
    column.addWidget(box);
}

QString ProductionWindow::Messages() const { return messages_->toPlainText(); }
QString ProductionWindow::ConfigurationBytes() const { return bytes_->toPlainText(); }

void ProductionWindow::Say(const QString& line) { messages_->appendPlainText(line); }

void ProductionWindow::UpdateButtons() {
    const bool idle = !Running();
    const bool ready = idle && job_.has_value();
    open_->setEnabled(idle);
    saved_->setEnabled(ready && job_->layout.has_value());
    report_choose_->setEnabled(idle);
    report_path_->setEnabled(idle);
    confirm_lock_->setEnabled(idle);
    // Whether the main window has a programmer open is asked when the run starts: it changes unseen.
    run_open_->setEnabled(ready);
    run_all_->setEnabled(ready);
    stop_->setEnabled(!idle);
}

void ProductionWindow::ChooseJob() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open job"), QString(),
                                                      ToQtFileFilter(kJobFileFilter));
    if (!path.isEmpty()) OpenJob(path.toStdString());
}

void ProductionWindow::ChooseSaved() {
    const QString filter = ToQtFileFilter(kDescriptorFileFilter);
    const QString device =
        QFileDialog::getOpenFileName(this, QStringLiteral("The part's device descriptor"), QString(), filter);
    if (device.isEmpty()) return;
    const QString geometry = QFileDialog::getOpenFileName(
        this, QStringLiteral("The part's geometry descriptor"), QFileInfo(device).path(), filter);
    if (!geometry.isEmpty()) PlanFromSaved(device.toStdString(), geometry.toStdString());
}

void ProductionWindow::ChooseReport() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Report file"), report_path_->text(), QString(),
                                     nullptr, QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) report_path_->setText(path);
}

void ProductionWindow::ClearPlan() {
    table_->setRowCount(0);
    bytes_->clear();
}

void ProductionWindow::OpenJob(const std::string& path) {
    if (Running()) return;
    job_.reset();
    ClearPlan();
    messages_->clear();
    job_label_->setText(QString::fromStdString(path));
    std::variant<pr::Job, std::string> read = pr::ReadJobFile(path);
    if (auto* why = std::get_if<std::string>(&read)) {
        Say(QString::fromStdString(*why));
        UpdateButtons();
        return;
    }
    job_ = std::move(std::get<pr::Job>(read));
    job_path_ = path;
    for (const std::string& line : job_->imported) Say(QString::fromStdString(line));
    const QFileInfo job_file(QString::fromStdString(path));
    report_path_->setText(
        job_file.dir().filePath(job_file.completeBaseName() + QStringLiteral("-report.jsonl")));
    confirm_lock_->setChecked(false);
    confirm_lock_->setVisible(job_->lock);
    UpdateButtons();
    if (!job_->layout) {
        Say(QStringLiteral("The job leaves the part's configuration as it is: nothing to plan."));
    } else if (logic_.TransferRunning()) {
        Say(
            QStringLiteral("The main window's transfer is running: plan from saved descriptors, or open "
                           "the job again when it has ended."));
    } else if (logic_.DeviceHandle() != KT62_INVALID_HANDLE) {
        ShowPlan(pr::ReadDeviceFacts(logic_.DeviceHandle()),
                 QStringLiteral("the part in Dev%1").arg(position_()));
    } else {
        Say(
            QStringLiteral("No programmer is open in the main window: plan from the part's saved "
                           "descriptors."));
    }
}

void ProductionWindow::PlanFromSaved(const std::string& device_path, const std::string& geometry_path) {
    if (!job_ || !job_->layout || Running()) return;
    ShowPlan(pr::ReadSavedFacts(device_path, geometry_path), QStringLiteral("the saved descriptors"));
}

void ProductionWindow::ShowPlan(const pr::FactsOrRefusal& facts, const QString& source) {
    ClearPlan();
    if (const auto* refused = std::get_if<pr::Refusal>(&facts)) {
        Say(QStringLiteral("No plan against %1: %2").arg(source, QString::fromStdString(refused->Text())));
        return;
    }
    const pr::PlanOrRefusal made = pr::MakePlan(*job_->layout, std::get<pr::DeviceFacts>(facts));
    if (const auto* refused = std::get_if<pr::Refusal>(&made)) {
        Say(QStringLiteral("The layout does not fit %1: %2")
                .arg(source, QString::fromStdString(refused->Text())));
        return;
    }
    const auto& plan = std::get<pr::Plan>(made);
    table_->setRowCount(static_cast<int>(plan.units.size()));
    for (int r = 0; r < table_->rowCount(); ++r) {
        const auto cells = pr::PlanCells(plan.units[static_cast<std::size_t>(r)]);
        for (int c = 0; c < pr::kPlanColumns; ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(cells[static_cast<std::size_t>(c)]));
            // Numbers line up on the right, as in the plan's text.
            if (c == 0 || c == 4) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(r, c, item);
        }
    }
    table_->resizeColumnsToContents();
    QStringList lines;
    for (const std::string& line : HexDumpLines(plan.configuration)) lines << QString::fromStdString(line);
    bytes_->setPlainText(lines.join(u'\n'));
    Say(QStringLiteral("Planned against %1: UFS %2, %3 of %4 allocation units used.")
            .arg(source, Text(ufs::VersionText(plan.facts.spec_version)))
            .arg(plan.used_alloc_units)
            .arg(plan.facts.total_alloc_units));
}

bool ProductionWindow::StartRun(bool all) {
    if (!job_ || Running()) return false;
    if (logic_.TransferRunning()) {
        Say(QStringLiteral("The main window's transfer is running: run the job when it has ended."));
        return false;
    }
    if (!all && logic_.DeviceHandle() == KT62_INVALID_HANDLE) {
        Say(QStringLiteral("No programmer is open in the main window."));
        return false;
    }
    if (report_path_->text().trimmed().isEmpty()) {
        Say(QStringLiteral("Choose the report file the parts' records go to."));
        return false;
    }
    if (job_->lock && !confirm_lock_->isChecked()) {
        Say(
            QStringLiteral("The job locks the configuration for good: tick \"Confirm configuration lock\" "
                           "to run it."));
        return false;
    }
    TakeDialogProgrammer();
    std::vector<int> positions;
    if (!all) positions.push_back(taken_position_);
    for (int p = 0, n = all ? kt62Search() : 0; p < n; ++p) positions.push_back(p);
    if (positions.empty()) {
        Say(QStringLiteral("No programmer found."));
        GiveBackDialogProgrammer();
        return false;
    }
    MakeRows(positions);
    report_ = std::make_unique<pr::Report>(report_path_->text().toStdString());
    options_ = {.confirm_lock = confirm_lock_->isChecked(), .report = report_.get()};
    records_.clear();
    running_.store(1);
    try {
        worker_ = std::thread([this, positions] {
            records_ = pr::RunAll(*job_, positions, options_, *sink_, running_);
            emit RunEnded();
        });
    } catch (const std::system_error& e) {
        Say(QStringLiteral("The run could not start: ") + QString::fromLocal8Bit(e.what()));
        GiveBackDialogProgrammer();
        return false;
    }
    UpdateButtons();
    return true;
}

void ProductionWindow::TakeDialogProgrammer() {
    // The main window is idle (checked by the caller on this thread, where its transfers start), so
    // nothing of it is using the handle now.
    const KT62_HANDLE h = logic_.DeviceHandle();
    if (h == KT62_INVALID_HANDLE) return;
    taken_position_ = position_();
    logic_.SetDeviceHandle(KT62_INVALID_HANDLE);
    (void)kt62Close(h);
}

void ProductionWindow::GiveBackDialogProgrammer() {
    const int position = std::exchange(taken_position_, -1);
    // The user may have opened another programmer in the main window meanwhile: that one stays.
    if (position < 0 || logic_.DeviceHandle() != KT62_INVALID_HANDLE) return;
    const KT62_HANDLE h = kt62Open(position);
    if (h == KT62_INVALID_HANDLE) {
        Say(QStringLiteral("Dev%1 could not be opened again for the main window.").arg(position));
        return;
    }
    logic_.SetDeviceHandle(h);
}

void ProductionWindow::MakeRows(const std::vector<int>& positions) {
    while (QLayoutItem* item = progress_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    rows_.clear();
    for (const int position : positions) {
        const int r = static_cast<int>(rows_.size());
        Row row{position, new QProgressBar(this), new QLabel(QStringLiteral("Waiting"), this)};
        row.bar->setRange(0, 1000);
        row.bar->setValue(0);
        progress_->addWidget(new QLabel(QStringLiteral("Dev%1").arg(position), this), r, 0);
        progress_->addWidget(row.bar, r, 1);
        progress_->addWidget(row.status, r, 2);
        rows_.push_back(row);
    }
}

ProductionWindow::Row* ProductionWindow::RowOf(int position) {
    for (Row& row : rows_)
        if (row.position == position) return &row;
    return nullptr;
}

void ProductionWindow::OnStepStarted(int position, int step) {
    Row* row = RowOf(position);
    if (!row) return;
    const auto s = static_cast<pr::Step>(step);
    // The bar follows the transfer steps, each from its start.
    if (s == pr::Step::Images || s == pr::Step::Verify) row->bar->setValue(0);
    row->status->setText(Text(pr::StepName(s)) + QStringLiteral("..."));
}

void ProductionWindow::OnProgress(int position, qulonglong done, qulonglong total) {
    Row* row = RowOf(position);
    if (row && total != 0)
        row->bar->setValue(static_cast<int>(std::min<qulonglong>(done, total) * 1000 / total));
}

void ProductionWindow::OnStepEnded(int position, int step, int outcome, const QString& detail) {
    Row* row = RowOf(position);
    if (!row) return;
    QString text = Text(pr::StepName(static_cast<pr::Step>(step))) + QStringLiteral(": ") +
                   Text(pr::OutcomeName(static_cast<pr::Outcome>(outcome)));
    if (!detail.isEmpty()) text += QStringLiteral(", ") + detail;
    row->status->setText(text);
}

void ProductionWindow::OnRunEnded() {
    worker_.join();
    int ok = 0;
    for (const pr::DeviceRecord& record : records_) {
        Row* row = RowOf(record.position);
        if (record.Ok()) {
            ++ok;
            if (row) row->bar->setValue(row->bar->maximum());
        }
        if (row) row->status->setText(EndText(record));
    }
    Say(QStringLiteral("%1 of %2 parts done; records appended to %3.")
            .arg(ok)
            .arg(records_.size())
            .arg(report_path_->text()));
    GiveBackDialogProgrammer();
    UpdateButtons();
    if (std::exchange(close_after_run_, false)) QDialog::reject();
}

void ProductionWindow::reject() {
    if (!Running()) {
        QDialog::reject();
        return;
    }
    Say(QStringLiteral("Stopping the run: the window closes when every programmer has stopped."));
    close_after_run_ = true;
    StopRun();
}

}  // namespace kt::qt
