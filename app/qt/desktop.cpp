#include "app/qt/desktop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

namespace kt::qt {

Desktop::Desktop(std::string exePath) : logic_(port_, std::move(exePath)) {
    dialog_.SetMessageSink(
        [this](DialogMessage message, std::uintptr_t wparam) { logic_.Dispatch(message, wparam); });
}

Desktop::~Desktop() {
    // A transfer worker waits on the GUI thread for each of its UI requests,
    // so it cannot finish while this thread blocks joining it: ask it to
    // stop and keep serving its requests until it has ended. The window
    // sends nothing more meanwhile.
    dialog_.SetMessageSink(nullptr);
    logic_.CancelTransfer();
    while (logic_.TransferRunning()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

void Desktop::Start() {
    dialog_.show();
    logic_.OnInitDialog();
}

int Desktop::Run() { return dialog_.RunModal(); }

}  // namespace kt::qt
