// Rows in the main window's device table without a discovery sweep: the device list is
// refilled from a collected reply text, as a sweep would leave it, and the table shown.
#pragma once

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPair>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "app/base_frame.h"
#include "discovery/device_list.h"

using DeviceRow = QPair<QString, int>;  // address, DeviceType

inline void showRows(Base_Frame& window, const QList<DeviceRow>& devices) {
    QJsonArray replies;
    for (const DeviceRow& d : devices) {
        const QJsonObject net{
            {"IpAddr", d.first},
            {"SubNetMask", "255.255.255.0"},
            {"GateWay", "198.51.100.1"},
            {"Mac", QStringLiteral("02:00:00:00:%1:%2")
                        .arg(d.first.section('.', 2, 2).toInt(), 2, 16, QLatin1Char('0'))
                        .arg(d.first.section('.', 3, 3).toInt(), 2, 16, QLatin1Char('0'))
                        .toUpper()}};
        replies.append(QJsonObject{{"NetConfig", QJsonArray{net}},
                                   {"DeviceType", d.second},
                                   {"SoftVersion", "V1.0"},
                                   {"UpTime", "0d 01:00:00"}});
    }
    const QByteArray text =
        QJsonDocument(QJsonObject{{"ProtocolCode", 999}, {"Parameters", replies}}).toJson();
    int nothing_found = 0;
    device_list().refill_from_text(text.constData(), nothing_found);
    window.Serach_Show_table();
}

// Lets the window's work on the worker (a sweep, a row's reads, a batch) end, the window
// handling its events meanwhile. False when it still runs after `timeout_ms`.
inline bool idleWithin(Base_Frame& window, int timeout_ms = 120000) {
    const QDeadlineTimer deadline(timeout_ms);
    while (window.busy() && !deadline.hasExpired()) {
        QTest::qWait(5);
    }
    return !window.busy();
}

// Opens the upgrade panel with `image` chosen, as the file dialog would leave it.
inline void openUpgradePanel(Base_Frame& window, const QString& image) {
    window.findChild<QPushButton*>(QStringLiteral("update"))->click();
    window.findChild<QLineEdit*>(QStringLiteral("file_pathname"))->setText(image);
    window.findChild<QPushButton*>(QStringLiteral("file_update"))->setEnabled(true);
}

inline QTableWidget* tableOf(Base_Frame& window) {
    return window.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
}

// The addresses of the table's rows, top to bottom.
inline QStringList rowAddresses(Base_Frame& window) {
    QStringList addresses;
    QTableWidget* table = tableOf(window);
    for (int row = 0; row < table->rowCount(); ++row) {
        addresses << table->item(row, 1)->text();
    }
    return addresses;
}

inline int rowOf(Base_Frame& window, const QString& address) {
    return rowAddresses(window).indexOf(address);
}

inline void tick(Base_Frame& window, int row, Qt::CheckState state = Qt::Checked) {
    tableOf(window)->item(row, 0)->setCheckState(state);
}

inline Qt::CheckState tickOf(Base_Frame& window, int row) {
    return tableOf(window)->item(row, 0)->checkState();
}
