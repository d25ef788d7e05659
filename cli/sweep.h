// The discovery sweep as the commands that need the devices' present values run it: a
// broadcast on every local IPv4 address, or with --range/--target a unicast sweep of the
// addresses named.
#pragma once

#include <QByteArray>
#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <vector>

#include "discovery/device_list.h"

namespace corvane::cli {

class Invocation;

// --range, --target and --rate, taken by every command that sweeps.
QList<QCommandLineOption> sweepOptions();
// A help text with the paragraph on those options put in at its "@SWEEP@" line.
QByteArray withSweepOptions(const QByteArray& help);

// The addresses the sweep of this command line probes by unicast; empty for the broadcast.
// Throws UsageError for a range or rate that cannot be carried out, before anything is sent.
// `more` are further single addresses (scan's positional ones with --target).
std::vector<std::uint32_t> unicastTargets(const Invocation& in, const QStringList& more = {});

// One sweep: the devices that answered, in the table's order. Checks the sweep options
// first, as unicastTargets does.
std::vector<Device_Info> sweep(const Invocation& in, const QStringList& more = {});
// The device of a sweep at `address`; null when it did not answer.
const Device_Info* findDevice(const std::vector<Device_Info>& devices, const QString& address);

}  // namespace corvane::cli
