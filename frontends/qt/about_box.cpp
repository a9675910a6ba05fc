#include "frontends/qt/about_box.h"

#include <QLabel>
#include <QPushButton>

#include "common/control_ids.h"
#include "dialog/dialog_template.h"
#include "frontends/qt/dialog_units.h"
#include "frontends/qt/template_widgets.h"

namespace kt::qt {

AboutBox::AboutBox(QWidget* parent, const std::string& version_line) : QDialog(parent) {
    const DialogLayout& spec = AboutDialogTemplate();
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(spec.title));
    setWindowIcon(ApplicationIcon());
    setModal(true);
    setFont(TemplateFont(spec));
    const BaseUnits units = DialogBaseUnits(font());
    const PixelRect client = ToPixels({0, 0, spec.width, spec.height}, units);
    setFixedSize(client.width, client.height);

    const std::vector<QWidget*> widgets = CreateTemplateControls(*this, spec, units);
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        const ControlEntry& c = spec.controls[i];
        if (c.id == IDC_STATIC_VERSION) {
            version_ = qobject_cast<QLabel*>(widgets[i]);
            if (version_) version_->setText(QString::fromStdString(version_line));
        } else if (c.id == IDOK) {
            if (auto* ok = qobject_cast<QPushButton*>(widgets[i])) {
                ok->setAutoDefault(true);
                connect(ok, &QPushButton::clicked, this, &QDialog::accept);
            }
        }
    }
}

}  // namespace kt::qt
