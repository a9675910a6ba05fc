// The main dialog's window: the controls of the main dialog template, the
// keyboard rules of a Windows dialog (Enter = default command, Escape =
// Exit), the window close routed through the dialog logic, and the About
// entry in a context menu, on F1 and under a Help button. Every user action becomes a message for the
// dialog logic; the window itself decides nothing.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "dialog/KT6200DemoDlg.h"
#include "frontends/qt/dialog_units.h"
#include "frontends/qt/template_widgets.h"

class QAction;
class QPushButton;

namespace kt::qt {

// The item of the About entry (IDS_ABOUTBOX).
inline constexpr const char* kAboutMenuText = "About KT6200Demo(&A)...";

class MainDialog : public QDialog {
    Q_OBJECT
public:
    // Receives every message the window raises; wparam as the dialog takes it.
    using MessageSink = std::function<void(DialogMessage message, std::uintptr_t wparam)>;

    explicit MainDialog(QWidget* parent = nullptr);

    void SetMessageSink(MessageSink sink) { sink_ = std::move(sink); }
    void Send(DialogMessage message, std::uintptr_t wparam = 0);

    // Control by identifier; nullptr for an identifier without a control.
    QWidget* Control(int id) const;
    // The template's controls in template order, anonymous ones included.
    std::span<QWidget* const> TemplateControls() const {
        return std::span<QWidget* const>(controls_).first(MainDialogTemplate().controls.size());
    }
    // The controls the program adds below the template, in their order.
    std::span<QWidget* const> ExtensionControls() const {
        return std::span<QWidget* const>(controls_).subspan(MainDialogTemplate().controls.size());
    }
    OutputPane* Pane() const { return pane_; }
    BaseUnits Units() const { return units_; }
    QAction* AboutAction() const { return about_action_; }
    // The Help button (its menu holds the About entry); not a template control.
    QPushButton* HelpButton() const { return help_button_; }

    // Ends the modal run with result (the window goes away).
    void End(int result);
    bool HasEnded() const { return ended_; }
    // Runs modally until End; returns End's result.
    int RunModal();

    // Enter: the default command, when its button is enabled.
    void accept() override;
    // Escape and every other rejection: the Exit command; the logic decides.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    MessageSink sink_;
    BaseUnits units_{};
    std::vector<QWidget*> controls_;          // template, then extensions
    std::vector<const ControlEntry*> specs_;  // the row of each control
    OutputPane* pane_ = nullptr;
    QAction* about_action_ = nullptr;
    QPushButton* help_button_ = nullptr;
    bool ended_ = false;
    int result_ = 0;
};

}  // namespace kt::qt
