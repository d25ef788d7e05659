#include "app/device_table.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTableWidget>

#include <cstring>

#include "discovery/device_list.h"
#include "discovery/device_order.h"

namespace corvane::device_table {

namespace {

// On the tick cell: the row's RowUse and the record it shows.
constexpr int kUseRole = Qt::UserRole;
constexpr int kDeviceRole = Qt::UserRole + 1;

QString statusText(const Device_Info& device) {
    if (device.conflict) {
        return QCoreApplication::translate("Base_Frame", "地址冲突");
    }
    if (device.other_subnet) {
        return QCoreApplication::translate("Base_Frame", "其他网段");
    }
    return QStringLiteral("OK");
}

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
    const RowUse use = device_group(device.type) == DeviceGroup::Other ? RowUse::DisplayOnly
                       : device.conflict                               ? RowUse::NetworkOnly
                                                                       : RowUse::Actions;
    const QString texts[kColumnCount] = {
        QString(),
        QString::fromUtf8(device.ip),
        QString::fromStdString(kind_text(device.type)),
        statusText(device),
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
            // A kind the tool does not know is shown, never acted on, and a shared address
            // is no target for a batch: no tick box.
            if (use == RowUse::Actions) {
                item->setCheckState(Qt::Unchecked);
            } else {
                item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
            }
            item->setData(kUseRole, int(use));
            item->setData(kDeviceRole,
                          QByteArray(reinterpret_cast<const char*>(&device), int(sizeof device)));
        }
        table->setItem(row, column, item);
    }
}

Device_Info rowDevice(const QTableWidget* table, int row) {
    Device_Info device{};
    const QTableWidgetItem* item = cell(table, row, Column::Tick);
    const QByteArray bytes = item != nullptr ? item->data(kDeviceRole).toByteArray() : QByteArray();
    if (bytes.size() == int(sizeof device)) {
        std::memcpy(&device, bytes.constData(), sizeof device);
    }
    return device;
}

RowUse rowUse(const QTableWidget* table, int row) {
    const QTableWidgetItem* item = cell(table, row, Column::Tick);
    return item != nullptr ? RowUse(item->data(kUseRole).toInt()) : RowUse::DisplayOnly;
}

void makeDisplayOnly(QTableWidget* table, int row) {
    QTableWidgetItem* item = cell(table, row, Column::Tick);
    if (item == nullptr) {
        return;
    }
    item->setData(Qt::CheckStateRole, QVariant());
    item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
    item->setData(kUseRole, int(RowUse::DisplayOnly));
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
