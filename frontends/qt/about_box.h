// The About box, built from its dialog template: icon, version line, notice
// and OK.
#pragma once

#include <QDialog>
#include <string>

class QLabel;

namespace kt::qt {

class AboutBox : public QDialog {
    Q_OBJECT
public:
    AboutBox(QWidget* parent, const std::string& version_line);

    QLabel* VersionLabel() const { return version_; }

private:
    QLabel* version_ = nullptr;
};

}  // namespace kt::qt
