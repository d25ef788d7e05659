#include "cli/sweep.h"

#include <QStringList>

#include <optional>
#include <string>

#include "cli/command_line.h"
#include "cli/output.h"
#include "discovery/address_range.h"
#include "discovery/device_order.h"
#include "discovery/discovery_transport.h"
#include "discovery/ipv4_address.h"
#include "discovery/unicast_sweep.h"

namespace corvane::cli {

namespace {

const char* const kSweepHelp =
    R"(  --range CIDR            sweep by unicast: the probe to each address of the range (e.g.
                          198.51.100.0/24; its network and broadcast address left out),
                          for devices behind a router; may be given more than once, at most
                          65536 addresses (a /16) in all. Nothing is sent elsewhere.
  --target ADDR           sweep by unicast: the probe to this address (more than once, or
                          a comma-separated list)
  --rate N                unicast probes a second (default 2000, at most 100000)
)";

// Repeated options and comma-separated lists alike.
QStringList listed(const Invocation& in, const QString& name) {
    QStringList all;
    for (const QString& value : in.values(name)) {
        all << value.split(QLatin1Char(','), Qt::SkipEmptyParts);
    }
    return all;
}

std::vector<std::string> texts(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list) {
        out.push_back(s.trimmed().toStdString());
    }
    return out;
}

}  // namespace

QList<QCommandLineOption> sweepOptions() {
    return {valued("range"), valued("target"), valued("rate")};
}

QByteArray withSweepOptions(const QByteArray& help) {
    QByteArray text = help;
    return text.replace("@SWEEP@\n", kSweepHelp);
}

SweepPlan sweepPlan(const Invocation& in, const QStringList& more) {
    const QStringList ranges = listed(in, QStringLiteral("range"));
    const QStringList targets = listed(in, QStringLiteral("target")) + more;
    if (in.isSet(QStringLiteral("rate")) && ranges.isEmpty() && targets.isEmpty()) {
        throw UsageError{QStringLiteral("--rate goes with --range or --target")};
    }
    SweepPlan plan;
    plan.rate =
        in.integer(QStringLiteral("rate"), 1, unicast_highest_rate).value_or(unicast_default_rate);
    if (ranges.isEmpty() && targets.isEmpty()) {
        return plan;
    }
    AddressPlan addresses = plan_addresses(texts(ranges), texts(targets));
    if (!addresses.error.empty()) {
        throw UsageError{QString::fromStdString(addresses.error)};
    }
    plan.targets = std::move(addresses.addresses);
    return plan;
}

std::vector<Device_Info> sweep(const Invocation& in, const QStringList& more, bool* incomplete) {
    return sweep(sweepPlan(in, more), incomplete);
}

std::vector<Device_Info> sweep(const SweepPlan& plan, bool* incomplete) {
    int nothing_found = 0;
    DeviceList& list = device_list();
    if (plan.targets.empty()) {
        list.collect_devices(nothing_found);
    } else {
        list.collect_devices_from(plan.targets, plan.rate, nothing_found);
    }
    // A sweep that found nothing leaves the list as it was; this process has no earlier one.
    std::vector<Device_Info> devices = nothing_found ? std::vector<Device_Info>{} : list.snapshot();
    order_for_table(devices);
    const bool bound = list.last_report().bound_reached;
    if (bound && plan.targets.empty()) {
        error(QStringLiteral("warning: a local address received %1 replies, the most a sweep "
                             "reads; devices beyond them may be missing")
                  .arg(discovery_datagrams_per_socket));
    } else if (bound) {
        error(QStringLiteral("warning: the unicast sweep received %1 replies, the most it reads "
                             "for %2 addresses; devices beyond them may be missing")
                  .arg(unicast_datagram_bound(plan.targets.size()))
                  .arg(plan.targets.size()));
    }
    if (incomplete != nullptr) {
        *incomplete = bound;
    }
    return devices;
}

const Device_Info* findDevice(const std::vector<Device_Info>& devices, const QString& address) {
    // By value, whatever form of the address was given.
    const std::optional<std::uint32_t> wanted = addressValue(address);
    if (!wanted) {
        return nullptr;
    }
    for (const Device_Info& d : devices) {
        if (ipv4_value(d.ip) == wanted) {
            return &d;
        }
    }
    return nullptr;
}

QString conflictProblem(const std::vector<Device_Info>& devices, const QString& address) {
    const std::optional<std::uint32_t> wanted = addressValue(address);
    QStringList macs;
    for (const Device_Info& d : devices) {
        if (d.conflict && ipv4_value(d.ip) == wanted) {
            macs << printable(QString::fromUtf8(d.mac));
        }
    }
    if (macs.isEmpty()) {
        return {};
    }
    return QStringLiteral(
               "%1 devices answered the sweep with this address (MAC %2); the "
               "command could reach either, so nothing was sent")
        .arg(macs.size())
        .arg(macs.join(QStringLiteral(", ")));
}

}  // namespace corvane::cli
