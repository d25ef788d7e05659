// The discovery sweep as the commands that need the devices' present values run it: a
// broadcast on every local IPv4 address, or with --range/--target a unicast sweep of the
// addresses named.
#pragma once

#include <QByteArray>
#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <cstdint>
#include <vector>

#include "discovery/device_list.h"

namespace corvane::cli {

class Invocation;

// --range, --target and --rate, taken by every command that sweeps.
QList<QCommandLineOption> sweepOptions();
// A help text with the paragraph on those options put in at its "@SWEEP@" line.
QByteArray withSweepOptions(const QByteArray& help);

// How a command sweeps: the broadcast when `targets` is empty, else a unicast sweep of these
// address values at `rate` probes a second.
struct SweepPlan {
    std::vector<std::uint32_t> targets;
    int rate = 0;
};

// The sweep of this command line. Throws UsageError for a range or rate that cannot be carried
// out, before anything is sent. `more` are further single addresses (scan's positional ones
// with --target).
SweepPlan sweepPlan(const Invocation& in, const QStringList& more = {});

// One sweep: the devices that answered, in the table's order, marked for conflicts and for
// other subnets. When the sweep stopped at its datagram bound, says on standard error that
// devices may be missing and sets `incomplete` (when given).
std::vector<Device_Info> sweep(const SweepPlan& plan, bool* incomplete = nullptr);
// The same with the sweep of the command line, checked first as sweepPlan does.
std::vector<Device_Info> sweep(const Invocation& in, const QStringList& more = {},
                               bool* incomplete = nullptr);
// The device of a sweep at `address`; null when it did not answer.
const Device_Info* findDevice(const std::vector<Device_Info>& devices, const QString& address);
// Why an action may not go to `address`: more than one device answered the sweep with it, so
// the action could reach either. Empty when it may.
QString conflictProblem(const std::vector<Device_Info>& devices, const QString& address);

}  // namespace corvane::cli
