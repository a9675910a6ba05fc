#include "frontends/qt/desktop.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMenu>
#include <QPushButton>
#include <QThread>
#include <memory>

#include "common/control_ids.h"
#include "frontends/qt/decode_window.h"
#include "handlers/ufs/descriptor_view.h"

namespace kt::qt {

Desktop::Desktop(std::string exe_path) : logic_(port_, std::move(exe_path)) {
    dialog_.SetMessageSink(
        [this](DialogMessage message, std::uintptr_t wparam) { logic_.Dispatch(message, wparam); });
    OutputPane* pane = dialog_.Pane();
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(pane, &QWidget::customContextMenuRequested, pane,
                     [this](const QPoint& at) { ShowPaneMenu(at); });
    // Beside About under Help: the dialog's template has no room for a button of its own.
    QMenu* help = dialog_.HelpButton()->menu();
    auto* production = new QAction(QStringLiteral("Production..."), help);
    help->insertAction(dialog_.AboutAction(), production);
    QObject::connect(production, &QAction::triggered, &dialog_, [this] { (void)OpenProductionWindow(); });
}

ProductionWindow& Desktop::OpenProductionWindow() {
    if (!production_)
        production_ =
            new ProductionWindow(&dialog_, logic_, [this] { return port_.ListSelection(IDC_COMBO_DEVICE); });
    production_->show();
    production_->raise();
    return *production_;
}

void Desktop::ShowPaneMenu(const QPoint& at) {
    OutputPane* pane = dialog_.Pane();
    const std::unique_ptr<QMenu> menu(pane->createStandardContextMenu(at));
    if (logic_.LastDescriptorRead()) {
        menu->addSeparator();
        QObject::connect(menu->addAction(QStringLiteral("Decode")), &QAction::triggered, pane,
                         [this] { OpenDecodeWindow(); });
    }
    menu->exec(pane->mapToGlobal(at));
}

void Desktop::OpenDecodeWindow() {
    const auto& read = logic_.LastDescriptorRead();
    if (!read) return;
    auto* window =
        new DecodeWindow(&dialog_, DescriptorViewTitle(read->idn, read->index),
                         DescriptorView(read->idn, read->index, read->bytes, logic_.DeviceSpecVersion()));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

Desktop::~Desktop() {
    // A transfer worker waits on the GUI thread for each of its UI requests,
    // so it cannot finish while this thread blocks joining it: ask it to
    // stop and keep serving its requests until it has ended. The window
    // sends nothing more meanwhile.
    dialog_.SetMessageSink(nullptr);
    // A production run stops at its programmers' next chunks, before the logic it uses goes.
    delete production_.data();
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
