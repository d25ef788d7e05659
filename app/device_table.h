// The main window's device table: its columns, a row filled from a device record, and the rows
// and cells read back. Rows of the kinds the tool acts on carry a tick box; the others are
// display-only, and select-all, reboot and upgrade pass them by.
#pragma once

#include <QList>
#include <QString>

#include <array>

class QTableWidget;
class QTableWidgetItem;
struct Device_Info;

namespace corvane::device_table {

// The columns, left to right.
enum class Column : int { Tick, Address, Kind, Status, Version, Mask, Gateway, Mac, Uptime, Time };
constexpr int kColumnCount = 10;
// Widths in pixels, by column.
constexpr std::array<int, kColumnCount> kColumnWidths{30,  130, 110, 93,  220,
                                                      150, 150, 155, 140, 200};

// What the operator may do with a row: everything (a tick box, the menu, the double-click), only
// open the network window (a device that shares its address: any other action could reach the
// other device, while a new address is how the conflict ends), or nothing (an unknown kind, a
// device that did not come back).
enum class RowUse { Actions, NetworkOnly, DisplayOnly };

// The item of a cell; null for an empty cell.
QTableWidgetItem* cell(const QTableWidget* table, int row, Column column);
// Whether the item is a tick box: the first cell of a row the tool acts on.
bool hasTickBox(const QTableWidgetItem* item);
QString cellText(const QTableWidget* table, int row, Column column);
// The address and kind of a row as the maintenance actions take them: UTF-8, at most 15 and 6
// bytes.
QString rowAddress(const QTableWidget* table, int row);
QString rowKind(const QTableWidget* table, int row);

// One row from a device record, every cell replaced; the last column shows the present time.
// The status says whether the device shares its address or lies outside the tool's subnets.
void fillRow(QTableWidget* table, int row, const Device_Info& device);
// The record a row was filled from (zeroed for a row fillRow did not make).
Device_Info rowDevice(const QTableWidget* table, int row);
RowUse rowUse(const QTableWidget* table, int row);
// Takes the tick box and every action away from a row, which then only shows its texts.
void makeDisplayOnly(QTableWidget* table, int row);
// Rows whose tick box is ticked (checked or partially), ascending.
QList<int> tickedRows(const QTableWidget* table);
// Removes the listed rows, given in ascending order: each removal moves the later rows up one.
void removeRows(QTableWidget* table, const QList<int>& ascending);

}  // namespace corvane::device_table
