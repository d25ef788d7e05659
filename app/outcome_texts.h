// What the window tells the operator of its batches, in one table: the box of each upgrade
// attempt that failed, and the end messages of the upgrade and of the reboot. Fixed Chinese
// texts that no catalogue translates.
#pragma once

#include <QString>
#include <QStringList>

#include "maintenance/upgrade.h"

namespace corvane::outcome_texts {

// The box of one attempt: a local file problem in an information box without parent, a
// network or device failure in an about box over the window; none for a delivered image.
struct UpgradeBox {
    enum class Kind { None, Local, Device };
    Kind kind = Kind::None;
    QString title;
    QString text;
};
UpgradeBox upgradeBox(maintenance::UpgradeStep step, const QString& address);

// A failed attempt in one line, as a row's status shows it (without the address) and as the
// end message lists it when the batch went on past failures (with it, "address text").
QString upgradeFailure(maintenance::UpgradeStep step);
QString upgradeFailureLine(maintenance::UpgradeStep step, const QString& address);

// The end of an upgrade batch of `tried` ticked devices, `upgraded` of which took the image;
// `failed` names the others (each entry an address, or a failure line). `not_tried` devices
// were left when the batch was stopped.
QString upgradeSummary(int tried, int upgraded, const QStringList& failed, int not_tried = 0);
// The end of a reboot batch in which at least one device was ticked.
QString rebootSummary(int restarted, const QStringList& silent, const QStringList& refused);

// A ticked row's state during a batch, in the status column. Unlike the boxes, these go
// through the catalogue and follow the language switch.
enum class RowState { Waiting, Restarting, Restarted, NoAnswer, Refused, Upgraded };
QString rowStateText(RowState state);

}  // namespace corvane::outcome_texts
