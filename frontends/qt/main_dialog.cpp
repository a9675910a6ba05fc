#include "frontends/qt/main_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QString>

#include "common/control_ids.h"
#include "dialog/dialog_template.h"
#include "handlers/ufs/descriptor_view.h"

namespace kt::qt {

MainDialog::MainDialog(QWidget* parent) : QDialog(parent) {
    const DialogLayout& spec = MainDialogTemplate();
    // An application window of its own (taskbar entry, minimise), not a
    // transient dialog; fixed size like the template's modal frame.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(spec.title));
    setWindowIcon(ApplicationIcon());
    setFont(TemplateFont(spec));
    units_ = DialogBaseUnits(font());
    const PixelRect client = ToPixels({0, 0, spec.width, spec.FullHeight()}, units_);
    setFixedSize(client.width, client.height);
    setSizeGripEnabled(false);

    controls_ = CreateTemplateControls(*this, spec, units_);
    spec.ForEachControl([this](const ControlEntry& c) { specs_.push_back(&c); });
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const ControlEntry& c = *specs_[i];
        QWidget* w = controls_[i];
        if (c.kind == ControlKind::OutputPane) pane_ = static_cast<OutputPane*>(w);
        if (c.id == IDC_STATIC) continue;
        const int id = c.id;
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            connect(button, &QPushButton::clicked, this, [this, id] { Send(DialogMessage::Command, id); });
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            // activated: the user's pick only; selecting from code is silent.
            connect(combo, &QComboBox::activated, this, [this, id] { Send(DialogMessage::SelChange, id); });
        }
    }
    if (auto* types = qobject_cast<QComboBox*>(Control(IDC_COMBO_DME_TYPE))) {
        for (const char* item : kDmeTypeItems) types->addItem(QString::fromUtf8(item));
        types->setCurrentIndex(-1);
    }

    // No system menu here to extend: the About entry is a context-menu item
    // with a shortcut.
    about_action_ = new QAction(QString::fromUtf8(kAboutMenuText), this);
    about_action_->setShortcut(QKeySequence(Qt::Key_F1));
    about_action_->setShortcutContext(Qt::WindowShortcut);
    connect(about_action_, &QAction::triggered, this,
            [this] { Send(DialogMessage::SysCommand, IDM_ABOUTBOX); });
    addAction(about_action_);

    // A visible way to About: a Help button with its menu in the free
    // corner right of Exit, outside every control of the template.
    auto* help = new QPushButton(QStringLiteral("Help"), this);
    help->setObjectName(QStringLiteral("helpButton"));
    help->setAutoDefault(false);
    auto* help_menu = new QMenu(help);
    help_menu->addAction(about_action_);
    help->setMenu(help_menu);
    const PixelRect at = ToPixels({509, 288, 50, 14}, units_);
    help->setGeometry(at.x, at.y, at.width, at.height);
    help_button_ = help;

    // The panel's numbers, named where the pointer rests on them.
    auto* idn = qobject_cast<QLineEdit*>(Control(IDC_EDIT_IDN));
    auto* index = qobject_cast<QLineEdit*>(Control(IDC_EDIT_INDEX));
    auto* value = qobject_cast<QLineEdit*>(Control(IDC_EDIT_VALUE));
    if (idn && index && value) {
        auto name = [idn, index, value] {
            const ParameterTooltips tips =
                ParameterTooltipsFor(idn->text().toStdString(), index->text().toStdString());
            idn->setToolTip(QString::fromStdString(tips.idn));
            index->setToolTip(QString::fromStdString(tips.index));
            value->setToolTip(QString::fromStdString(tips.value));
        };
        connect(idn, &QLineEdit::textChanged, this, name);
        connect(index, &QLineEdit::textChanged, this, name);
        name();
    }
}

void MainDialog::Send(DialogMessage message, std::uintptr_t wparam) {
    if (sink_) sink_(message, wparam);
}

QWidget* MainDialog::Control(int id) const {
    if (id == IDC_STATIC) return nullptr;
    for (std::size_t i = 0; i < specs_.size(); ++i)
        if (specs_[i]->id == id) return controls_[i];
    return nullptr;
}

void MainDialog::End(int result) {
    ended_ = true;
    result_ = result;
    done(result);
}

int MainDialog::RunModal() {
    // The logic may have ended the dialog before the modal run began.
    if (ended_) return result_;
    exec();
    return result_;
}

void MainDialog::accept() {
    const QWidget* ok = Control(IDOK);
    if (ok && ok->isEnabled()) Send(DialogMessage::Command, IDOK);
}

void MainDialog::reject() { Send(DialogMessage::Command, IDCANCEL); }

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            accept();
            event->accept();
            return;
        case Qt::Key_Escape:
            reject();
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void MainDialog::closeEvent(QCloseEvent* event) {
    if (ended_) {
        event->accept();
        return;
    }
    // The logic closes the device and runs Exit, which ends the dialog
    // unless a transfer is still running.
    event->ignore();
    Send(DialogMessage::Close);
    if (ended_) event->accept();
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    // On the dialog's background: empty space, group boxes and labels. The
    // other controls keep their own menus (or none).
    QWidget* child = childAt(event->pos());
    if (child && !qobject_cast<QGroupBox*>(child) && !qobject_cast<QLabel*>(child)) {
        event->ignore();
        return;
    }
    QMenu menu(this);
    menu.addAction(about_action_);
    menu.exec(event->globalPos());
}

}  // namespace kt::qt
