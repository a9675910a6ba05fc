#include "frontends/qt/template_widgets.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QValidator>
#include <algorithm>

#include "handlers/base/ui_port.h"

// Resources are compiled into this static library; nothing references
// them by symbol, so they are registered by hand before first use.
static void InitResources() { Q_INIT_RESOURCE(kt6200); }

namespace kt::qt {
namespace {

// Display form of pane text: the logic's "\r\n" breaks become line breaks.
QString PaneDisplayText(std::string_view text) {
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

// Applies an edit field's style to everything that enters it, typed or
// pasted: upper-case fields turn letters to upper case one for one, so the
// cursor stays where it was; decimal fields take digits only.
class EditStyleValidator : public QValidator {
public:
    EditStyleValidator(std::uint32_t style, QObject* parent) : QValidator(parent), style_(style) {}

    State validate(QString& input, int& /*pos*/) const override {
        if (style_ & kStyleNumber) {
            for (QChar c : input)
                if (!c.isDigit()) return Invalid;
        }
        if (style_ & kStyleUpperCase) {
            for (QChar& c : input) c = c.toUpper();
        }
        return Acceptable;
    }

private:
    std::uint32_t style_;
};

QPushButton* MakeButton(QWidget& parent, const ControlEntry& spec) {
    auto* button = new QPushButton(QString::fromUtf8(spec.caption), &parent);
    // Enter is the dialog's business (its default command), not the
    // focused button's.
    button->setAutoDefault(false);
    button->setDefault(spec.kind == ControlKind::DefPushButton);
    return button;
}

QWidget* MakeControl(QWidget& parent, const ControlEntry& spec) {
    const QString caption = QString::fromUtf8(spec.caption);
    switch (spec.kind) {
        case ControlKind::DefPushButton:
        case ControlKind::PushButton:
            return MakeButton(parent, spec);
        case ControlKind::DropDownList: {
            auto* combo = new QComboBox(&parent);
            combo->setEditable(false);
            return combo;
        }
        case ControlKind::OutputPane:
            return new OutputPane(&parent);
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(caption, &parent);
            if (spec.style & (kStyleUpperCase | kStyleNumber))
                edit->setValidator(new EditStyleValidator(spec.style, edit));
            return edit;
        }
        case ControlKind::GroupBox: {
            auto* group = new QGroupBox(caption, &parent);
            group->setFocusPolicy(Qt::NoFocus);
            return group;
        }
        case ControlKind::StaticText: {
            auto* label = new QLabel(caption, &parent);
            label->setTextFormat(Qt::PlainText);
            label->setFocusPolicy(Qt::NoFocus);
            return label;
        }
        case ControlKind::Icon: {
            auto* label = new QLabel(&parent);
            label->setPixmap(ApplicationIcon().pixmap(32, 32));
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setFocusPolicy(Qt::NoFocus);
            return label;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(&parent);
            bar->setRange(0, kProgressMax);
            bar->setValue(0);
            bar->setTextVisible(false);  // a plain bar, like the platform's
            bar->setFocusPolicy(Qt::NoFocus);
            return bar;
        }
    }
    return new QWidget(&parent);
}

}  // namespace

QIcon ApplicationIcon() {
    static const bool kRegistered = (InitResources(), true);
    (void)kRegistered;
    return QIcon(QStringLiteral(":/kt6200/kt6200.png"));
}

OutputPane::OutputPane(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setUndoRedoEnabled(false);
    setFont(PaneFont());
}

void OutputPane::SetText(std::string text) {
    text_ = std::move(text);
    setPlainText(PaneDisplayText(text_));
    ShowBeginning();
}

void OutputPane::Append(const std::string& text) {
    // A "\r\n" split across the old end and the new text is one break, which
    // only a full redisplay shows right.
    const bool split_break = !text_.empty() && text_.back() == '\r' && !text.empty() && text.front() == '\n';
    text_ += text;
    if (split_break) {
        setPlainText(PaneDisplayText(text_));
    } else {
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.insertText(PaneDisplayText(text));
    }
    ShowBeginning();
}

void OutputPane::ShowBeginning() {
    moveCursor(QTextCursor::Start);
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
}

void OutputPane::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();  // read-only: Enter does nothing here
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

QFont PaneFont() {
    // The pane asks for "Courier" with a 10-unit cell height; the Windows
    // raster Courier answers that with its smallest size, a 13-pixel cell.
    // Take the largest pixel size whose line height is at most 13 pixels
    // (11 px with DejaVu Sans Mono, which fontconfig gives for Courier), so
    // the pane shows as many lines as it was drawn for and stays readable.
    QFont font(QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    constexpr int kCellHeight = 13;
    for (int pixels = kCellHeight; pixels > 6; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).height() <= kCellHeight) break;
    }
    return font;
}

std::vector<QWidget*> CreateTemplateControls(QWidget& parent, const DialogLayout& spec, BaseUnits units) {
    std::vector<QWidget*> widgets;
    widgets.reserve(spec.controls.size() + spec.extensions.size());
    std::vector<QWidget*> groups;
    QWidget* previous_tab_stop = nullptr;
    spec.ForEachControl([&](const ControlEntry& c) {
        QWidget* w = MakeControl(parent, c);
        const PixelRect r = ToPixels(c.rect, units);
        w->setGeometry(r.x, r.y, r.width, r.height);
        if (!c.shown) w->hide();
        if (c.name[0] != '\0') w->setObjectName(QString::fromUtf8(c.name));
        if (c.kind == ControlKind::GroupBox) groups.push_back(w);
        if (c.TabStop()) {
            if (previous_tab_stop) QWidget::setTabOrder(previous_tab_stop, w);
            previous_tab_stop = w;
        }
        widgets.push_back(w);
    });
    // Group boxes go beneath everything, and an enclosing box beneath the
    // boxes inside it: lower the smaller ones first.
    std::stable_sort(groups.begin(), groups.end(), [](const QWidget* a, const QWidget* b) {
        return a->width() * a->height() < b->width() * b->height();
    });
    for (QWidget* g : groups) g->lower();
    return widgets;
}

}  // namespace kt::qt
