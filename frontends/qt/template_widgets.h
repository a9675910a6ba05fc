// Widgets from a dialog template: one Qt widget a control, every one a
// direct child of the dialog at its template position, so the dialog-unit
// layout carries over without layouts. Group boxes only draw their frame;
// what they enclose sits beside them, stacked above them.
#pragma once

#include <QIcon>
#include <QPlainTextEdit>
#include <string>
#include <vector>

#include "dialog/dialog_template.h"
#include "frontends/qt/dialog_units.h"

namespace kt::qt {

// The application icon (window, About box, desktop entry).
QIcon ApplicationIcon();

// The output pane: a read-only, non-wrapping multi-line text. It keeps the
// text exactly as the dialog logic set it ("\r\n" line breaks and all) and
// shows it with those breaks as lines. Enter belongs to the pane, so it
// never reaches the dialog's default button from here.
class OutputPane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit OutputPane(QWidget* parent);

    const std::string& Text() const { return text_; }
    void SetText(std::string text);
    void Append(const std::string& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowBeginning();

    std::string text_;
};

// The pane's fixed-pitch font.
QFont PaneFont();

// Creates the dialog's controls on parent, the template's and then its
// extensions, in that order (which is also the tab order), at their pixel
// rectangles; hidden controls are created hidden. Returns them in that order.
std::vector<QWidget*> CreateTemplateControls(QWidget& parent, const DialogLayout& spec, BaseUnits units);

}  // namespace kt::qt
