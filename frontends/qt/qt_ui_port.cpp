#include "frontends/qt/qt_ui_port.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <type_traits>

#include "common/control_ids.h"
#include "frontends/qt/about_box.h"
#include "frontends/qt/file_filter.h"

namespace kt::qt {
namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

// Message box text: the logic's "\r\n" breaks as line breaks.
QString MessageText(const std::string& text) {
    QString shown = FromUtf8(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

}  // namespace

QtUiPort::QtUiPort(MainDialog& dialog) : dialog_(dialog) {}

QtUiPort::~QtUiPort() {
    for (auto& [id, timer] : timers_) delete timer.data();
}

template <class F>
auto QtUiPort::OnGuiThread(F&& operation) {
    using Result = std::invoke_result_t<F&>;
    if (QThread::currentThread() == dialog_.thread()) return operation();
    // Never from the GUI thread itself: a blocking queued call to one's own
    // thread waits forever.
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            &dialog_, [&operation] { operation(); }, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            &dialog_, [&operation, &result] { result = operation(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

std::string QtUiPort::GetText(int id) {
    return OnGuiThread([&]() -> std::string {
        QWidget* w = dialog_.Control(id);
        if (auto* pane = qobject_cast<OutputPane*>(w)) return pane->Text();
        if (auto* edit = qobject_cast<QLineEdit*>(w)) return ToUtf8(edit->text());
        if (auto* button = qobject_cast<QAbstractButton*>(w)) return ToUtf8(button->text());
        if (auto* group = qobject_cast<QGroupBox*>(w)) return ToUtf8(group->title());
        if (auto* label = qobject_cast<QLabel*>(w)) return ToUtf8(label->text());
        if (auto* combo = qobject_cast<QComboBox*>(w)) return ToUtf8(combo->currentText());
        return {};
    });
}

void QtUiPort::SetText(int id, const std::string& text) {
    OnGuiThread([&] {
        QWidget* w = dialog_.Control(id);
        if (auto* pane = qobject_cast<OutputPane*>(w)) {
            pane->SetText(text);
            // Commands show "Please wait" texts right before a long library
            // call on this thread: draw them now, not after the call.
            pane->repaint();
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setText(FromUtf8(text));
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            button->setText(FromUtf8(text));
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            group->setTitle(FromUtf8(text));
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            label->setText(FromUtf8(text));
        }
    });
}

void QtUiPort::AppendText(int id, const std::string& text) {
    OnGuiThread([&] {
        QWidget* w = dialog_.Control(id);
        if (auto* pane = qobject_cast<OutputPane*>(w)) {
            pane->Append(text);
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setText(edit->text() + FromUtf8(text));
        }
    });
}

void QtUiPort::SetTitle(const std::string& title) {
    OnGuiThread([&] { dialog_.setWindowTitle(FromUtf8(title)); });
}

void QtUiPort::EnableControl(int id, bool enable) {
    OnGuiThread([&] {
        // Commands without a control have nothing to switch.
        if (QWidget* w = dialog_.Control(id)) w->setEnabled(enable);
    });
}

bool QtUiPort::IsControlEnabled(int id) {
    return OnGuiThread([&] {
        QWidget* w = dialog_.Control(id);
        return w != nullptr && w->isEnabledTo(&dialog_);
    });
}

void QtUiPort::SetProgress(int id, int permille) {
    OnGuiThread([&] {
        if (auto* bar = qobject_cast<QProgressBar*>(dialog_.Control(id))) bar->setValue(permille);
    });
}

int QtUiPort::ListCount(int id) {
    return OnGuiThread([&] {
        auto* combo = qobject_cast<QComboBox*>(dialog_.Control(id));
        return combo ? combo->count() : 0;
    });
}

void QtUiPort::ListDelete(int id, int position) {
    OnGuiThread([&] {
        auto* combo = qobject_cast<QComboBox*>(dialog_.Control(id));
        if (!combo || position < 0 || position >= combo->count()) return;
        const bool was_selected = combo->currentIndex() == position;
        combo->removeItem(position);
        // Deleting the selected item leaves no selection, rather than Qt's
        // move to a neighbour.
        if (was_selected) combo->setCurrentIndex(-1);
    });
}

void QtUiPort::ListAppend(int id, const std::string& item) {
    OnGuiThread([&] {
        auto* combo = qobject_cast<QComboBox*>(dialog_.Control(id));
        if (!combo) return;
        // Qt selects the first item added to an empty list; a list keeps
        // whatever selection it had.
        const int selection = combo->currentIndex();
        combo->addItem(FromUtf8(item));
        if (combo->currentIndex() != selection) combo->setCurrentIndex(selection);
    });
}

int QtUiPort::ListSelection(int id) {
    return OnGuiThread([&] {
        auto* combo = qobject_cast<QComboBox*>(dialog_.Control(id));
        return combo ? combo->currentIndex() : -1;
    });
}

void QtUiPort::ListSelect(int id, int position) {
    OnGuiThread([&] {
        auto* combo = qobject_cast<QComboBox*>(dialog_.Control(id));
        if (!combo) return;
        // A position out of range clears the selection.
        combo->setCurrentIndex(position >= 0 && position < combo->count() ? position : -1);
    });
}

bool QtUiPort::AskYesNo(const std::string& text, const std::string& caption) {
    return OnGuiThread([&] {
        QMessageBox box(QMessageBox::Warning, FromUtf8(caption), MessageText(text),
                        QMessageBox::Yes | QMessageBox::No, &dialog_);
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    });
}

std::optional<std::string> QtUiPort::ChooseFile(FileChooserMode mode, const std::string& filter) {
    return OnGuiThread([&]() -> std::optional<std::string> {
        const QString qt_filter = ToQtFileFilter(filter);
        // Each chooser (its mode and filter) opens where it was last used.
        QString& folder = last_folders_[{static_cast<int>(mode), filter}];
        // No default suffix; the save chooser asks before replacing a file.
        const QString path = mode == FileChooserMode::Open
                                 ? QFileDialog::getOpenFileName(&dialog_, QString(), folder, qt_filter)
                                 : QFileDialog::getSaveFileName(&dialog_, QString(), folder, qt_filter);
        if (path.isEmpty()) return std::nullopt;
        folder = QFileInfo(path).absolutePath();
        return ToUtf8(path);
    });
}

void QtUiPort::StartTimer(int id, unsigned period_ms) {
    OnGuiThread([&] {
        QPointer<QTimer>& timer = timers_[id];
        if (!timer) {
            timer = new QTimer(&dialog_);
            MainDialog* dialog = &dialog_;
            QObject::connect(timer, &QTimer::timeout, dialog, [dialog, id] {
                dialog->Send(DialogMessage::Timer, static_cast<std::uintptr_t>(id));
            });
        }
        // Starting a running timer again restarts it with the new period.
        timer->start(static_cast<int>(std::min<unsigned>(period_ms, std::numeric_limits<int>::max())));
    });
}

void QtUiPort::StopTimer(int id) {
    OnGuiThread([&] {
        auto it = timers_.find(id);
        if (it != timers_.end() && it->second) it->second->stop();
    });
}

bool QtUiPort::TimerActive(int id) const {
    auto it = timers_.find(id);
    return it != timers_.end() && it->second && it->second->isActive();
}

void QtUiPort::EndDialog(int result) {
    OnGuiThread([&] { dialog_.End(result); });
}

void QtUiPort::RunAboutBox(const std::string& version_line) {
    OnGuiThread([&] {
        AboutBox box(&dialog_, version_line);
        box.exec();
    });
}

void QtUiPort::Beep() {
    OnGuiThread([] { QApplication::beep(); });
}

}  // namespace kt::qt
