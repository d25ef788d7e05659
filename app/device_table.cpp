#include "app/device_table.h"

#include <QDateTime>
#include <QTableWidget>

#include "discovery/device_list.h"
#include "discovery/device_order.h"

namespace corvane::device_table {

namespace {

// A cell's text cut to `bytes` bytes of UTF-8, as the commands carry it.
QString cellField(const QTableWidget* table, int row, Column column, int bytes) {
    return QString::fromUtf8(cellText(table, row, column).toUtf8().left(bytes));
}

}  // namespace

QTableWidgetItem* cell(const QTableWidget* table, int row, Column column) {
    return table->item(row, int(column));
}

bool hasTickBox(const QTableWidgetItem* item) {
    return item != nullptr && (item->flags() & Qt::ItemIsUserCheckable);
}

QString cellText(const QTableWidget* table, int row, Column column) {
    const QTableWidgetItem* item = cell(table, row, column);
    return item != nullptr ? item->text() : QString();
}

QString rowAddress(const QTableWidget* table, int row) {
    return cellField(table, row, Column::Address, 15);
}

QString rowKind(const QTableWidget* table, int row) {
    return cellField(table, row, Column::Kind, 6);
}

void fillRow(QTableWidget* table, int row, const Device_Info& device) {
    const DeviceGroup group = device_group(device.type);
    const QString texts[kColumnCount] = {
        QString(),
        QString::fromUtf8(device.ip),
        QString::fromStdString(kind_text(device.type)),
        QStringLiteral("OK"),
        QString::fromUtf8(device.version),
        QString::fromUtf8(device.mask),
        QString::fromUtf8(device.gateway),
        QString::fromUtf8(device.mac),
        QString::fromUtf8(device.uptime),
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy.MM.dd hh:mm:ss")),
    };
    for (int column = 0; column < kColumnCount; ++column) {
        auto* item = new QTableWidgetItem(texts[column]);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        if (column == int(Column::Tick)) {
            // A kind the tool does not know is shown, never acted on: no tick box.
            if (group == DeviceGroup::Other) {
                item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
            } else {
                item->setCheckState(Qt::Unchecked);
            }
        }
        table->setItem(row, column, item);
    }
}

QList<int> tickedRows(const QTableWidget* table) {
    QList<int> rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* item = cell(table, row, Column::Tick);
        if (hasTickBox(item) && item->data(Qt::CheckStateRole).toInt() != 0) {
            rows.append(row);
        }
    }
    return rows;
}

void removeRows(QTableWidget* table, const QList<int>& ascending) {
    for (int i = 0; i < ascending.size(); ++i) {
        table->removeRow(ascending[i] - i);
    }
}

}  // namespace corvane::device_table
