#include "frontends/qt/decode_window.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QStringList>
#include <QTableWidget>
#include <QVBoxLayout>

#include "frontends/qt/template_widgets.h"

namespace kt::qt {

DecodeWindow::DecodeWindow(QWidget* parent, const std::string& title,
                           const std::vector<DescriptorViewRow>& rows)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Decode: ") + QString::fromStdString(title));
    table_ = new QTableWidget(static_cast<int>(rows.size()), 5, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("Offset"), QStringLiteral("Name"),
                                       QStringLiteral("Raw bytes"), QStringLiteral("Value"),
                                       QStringLiteral("Meaning")});
    table_->verticalHeader()->setVisible(false);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const DescriptorViewRow& row = rows[static_cast<std::size_t>(r)];
        const std::string* cells[] = {&row.offset, &row.name, &row.raw, &row.value, &row.meaning};
        for (int c = 0; c < 5; ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(*cells[c]));
            if (c == 0 || c == 2) item->setFont(PaneFont());
            // Long reserved areas stay readable in full.
            item->setToolTip(item->text());
            table_->setItem(r, c, item);
        }
    }
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setStretchLastSection(true);
    // Long reserved areas would push the values out of sight: their bytes
    // end in an ellipsis here and show whole in the tooltip.
    const int eight_bytes =
        QFontMetrics(PaneFont()).horizontalAdvance(QStringLiteral("00 00 00 00 00 00 00 00"));
    table_->setColumnWidth(2, std::min(table_->columnWidth(2), eight_bytes + 16));
    table_->setTextElideMode(Qt::ElideRight);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    resize(960, 560);
}

}  // namespace kt::qt
