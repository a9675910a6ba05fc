// The Production window: a job file's plan, against the part in the main window's programmer or
// against a part's saved descriptor files, and the job run on that programmer or on every one
// attached, a progress bar and a status line for each.
//
// The run and the main window never share a programmer: a run starts only while the main window
// has no transfer going, takes the main window's programmer from it for the run's length (the
// library lets one handle at a time hold a programmer, so the main window cannot open a programmer
// the run holds) and gives it back when the run ends.
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dialog/KT6200DemoDlg.h"
#include "production/job.h"
#include "production/plan.h"
#include "production/run.h"

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QVBoxLayout;

namespace kt::qt {

// The file chooser's filter for job files.
inline constexpr const char* kJobFileFilter = "Job file(*.toml)|*.toml|All files(*.*)|*.*||";

class ProductionWindow : public QDialog {
    Q_OBJECT
public:
    // position: the main window's programmer, its place in the device list.
    using PositionSource = std::function<int()>;
    ProductionWindow(QWidget* parent, CKT6200DemoDlg& logic, PositionSource position);
    ~ProductionWindow() override;

    ProductionWindow(const ProductionWindow&) = delete;
    ProductionWindow& operator=(const ProductionWindow&) = delete;

    // Reads the job and, when the main window has a programmer open and idle, plans it against
    // that programmer's part; otherwise the plan waits for the part's saved descriptors.
    void OpenJob(const std::string& path);
    void PlanFromSaved(const std::string& device_path, const std::string& geometry_path);
    // Starts the job on the main window's programmer, or on every one attached; false, with the
    // reason in the messages, when it cannot start.
    bool StartRun(bool all);
    bool Running() const { return worker_.joinable(); }
    // Asks the run to stop: each programmer ends at its next chunk.
    void StopRun() { running_.store(0); }

    QTableWidget* PlanTable() const { return table_; }
    QString Messages() const;
    QString ConfigurationBytes() const;
    QLineEdit* ReportPath() const { return report_path_; }
    QCheckBox* ConfirmLock() const { return confirm_lock_; }
    // The progress bar and status line of the run's row-th programmer.
    QProgressBar* Bar(int row) const { return rows_.at(static_cast<std::size_t>(row)).bar; }
    QLabel* Status(int row) const { return rows_.at(static_cast<std::size_t>(row)).status; }
    // The last run's records, once it has ended.
    const std::vector<production::DeviceRecord>& Records() const { return records_; }

signals:
    // From the run's workers; queued to the window's thread.
    void StepStarted(int position, int step);
    void Progressed(int position, qulonglong done, qulonglong total);
    void StepEnded(int position, int step, int outcome, QString detail);
    void RunEnded();

protected:
    // Escape and the close box: while a run goes, the run is stopped and the window closes at its end.
    void reject() override;

private:
    class Sink;
    struct Row {
        int position = 0;
        QProgressBar* bar = nullptr;
        QLabel* status = nullptr;
    };

    void BuildJobPart(QVBoxLayout& layout);
    void BuildRunPart(QVBoxLayout& column);
    void ChooseJob();
    void ChooseSaved();
    void ChooseReport();
    void ShowPlan(const production::FactsOrRefusal& facts, const QString& source);
    void ClearPlan();
    void Say(const QString& line);
    void UpdateButtons();
    // The main window's programmer, closed for the run and opened again after it.
    void TakeDialogProgrammer();
    void GiveBackDialogProgrammer();
    void MakeRows(const std::vector<int>& positions);
    Row* RowOf(int position);
    void OnStepStarted(int position, int step);
    void OnProgress(int position, qulonglong done, qulonglong total);
    void OnStepEnded(int position, int step, int outcome, const QString& detail);
    void OnRunEnded();

    CKT6200DemoDlg& logic_;
    PositionSource position_;
    std::optional<production::Job> job_;
    std::string job_path_;

    QLabel* job_label_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* saved_ = nullptr;
    QPlainTextEdit* messages_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPlainTextEdit* bytes_ = nullptr;
    QLineEdit* report_path_ = nullptr;
    QPushButton* report_choose_ = nullptr;
    QCheckBox* confirm_lock_ = nullptr;
    QPushButton* run_open_ = nullptr;
    QPushButton* run_all_ = nullptr;
    QPushButton* stop_ = nullptr;
    QGridLayout* progress_ = nullptr;
    std::vector<Row> rows_;

    std::unique_ptr<Sink> sink_;
    std::unique_ptr<production::Report> report_;
    production::RunOptions options_;
    std::atomic<int> running_{0};
    std::thread worker_;
    std::vector<production::DeviceRecord> records_;
    int taken_position_ = -1;  // the main window's programmer while the run holds it
    bool close_after_run_ = false;
};

}  // namespace kt::qt
