// The Decode window: a descriptor's fields as a table of offset, name, raw
// bytes, value and what the value means. Shows rows made elsewhere; decides
// nothing.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "handlers/ufs/descriptor_view.h"

class QTableWidget;

namespace kt::qt {

class DecodeWindow : public QDialog {
    Q_OBJECT
public:
    DecodeWindow(QWidget* parent, const std::string& title, const std::vector<DescriptorViewRow>& rows);

    QTableWidget* Table() const { return table_; }

private:
    QTableWidget* table_ = nullptr;
};

}  // namespace kt::qt
