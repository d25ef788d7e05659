// reboot, net and assign: the restart command and the network change of the window, for a
// list of devices.
#include <QStringList>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_line.h"
#include "cli/output.h"
#include "cli/sweep.h"
#include "cli/wait.h"
#include "maintenance/batch.h"
#include "protocol/config_commands.h"

namespace corvane::cli {

namespace {

namespace config = corvane::config;

const char* const kRebootHelp =
    R"(Usage: corvane-cli reboot [--timeout SECONDS] [--wait SECONDS] [--json] ADDR...

Sends the restart command to each device in the order given, 100 ms apart. A device that
confirms (a reply of 30 bytes or more that does not refuse) restarts; one that does not answer,
or refuses ("Result" below 0), fails. With --wait a sweep first finds each device's MAC; an
address that two devices answered with is refused (step conflict: the restart could reach
either), and each device that restarts is waited for at its address. The sweep options
go with --wait.

Options:
@SWEEP@
%1%2  --json                  a JSON array, one object per device
  -h, --help              this text
)";

const char* const kNetHelp =
    R"(Usage: corvane-cli net ADDR [--ip A] [--mask M] [--gateway G] [--mac X]
                       [--timeout SECONDS] [--wait SECONDS] [--json]

Writes the device's network settings and, once it has accepted them, tells it to restart;
it comes back under the new settings. Settings left out keep the device's present values,
which a sweep finds first (the device must answer it). A new address that another device
answered the sweep with is refused, so the sweep also runs for --ip; with all four given and
the address unchanged no sweep runs. The settings are checked before anything is sent: dotted
IPv4 addresses without leading zeros, a contiguous mask, a MAC of six pairs of hex digits
separated by ':'.

Options:
  --ip A                  the new address (dotted IPv4)
  --mask M                the new subnet mask
  --gateway G             the new gateway
  --mac X                 the new MAC address (xx:xx:xx:xx:xx:xx)
@SWEEP@
%1%2  --json                  a JSON object for the device, in an array
  -h, --help              this text

Exit status: 0 when the device accepted both the settings and the restart; 1 when it did not
answer the sweep, two devices answered it with ADDR and a setting was left out (conflict: the
present values could be either's; with all four given the change goes to whichever device
takes it), its settings failed the checks, it refused either, or with --wait it was not back
at its new address in time (the step says which: sweep, conflict, check, settings, restart,
wait); 2 for bad usage.
)";

const char* const kAssignHelp =
    R"(Usage: corvane-cli assign --from FIRST [--mask M] [--gateway G] [--timeout SECONDS]
                          [--wait SECONDS] [--json] ADDR...

Gives the devices the consecutive addresses FIRST, FIRST+1, ... in the order listed, each by
the change of 'net': the device keeps its mask, gateway (unless given here) and MAC, and
restarts under its new address. A device that has its new address already is left alone.

Refused before anything is changed:
  - a range that leaves FIRST's /24 or takes its .0 or .255 (exit 2);
  - a listed device that did not answer the sweep, an address that two devices answered it
    with (step conflict), or a new address that answered it and is not the present address
    of the device that gets it (exit 1). Devices swapping
    addresses are refused too: the first one moved would meet the other at its address.

Options:
  --from FIRST            the first new address
  --mask M                the subnet mask for every device
  --gateway G             the gateway for every device
@SWEEP@
%1%2  --json                  a JSON array, one object per device
  -h, --help              this text
)";

// A text of the sweep as the window's table holds it, invalid UTF-8 replaced.
std::string swept(const char* text) {
    return utf8(QString::fromUtf8(text));
}

// --mask: a dotted address whose one bits lead.
std::optional<QString> netmask(const Invocation& in) {
    const std::optional<QString> mask = in.dotted(QStringLiteral("mask"));
    if (mask && !config::isNetmask(utf8(*mask))) {
        throw UsageError{
            QStringLiteral("--mask: '%1' is not a netmask (its one bits must lead)").arg(*mask)};
    }
    return mask;
}

// Why a text of the settings is not of its kind.
QString malformedProblem(config::NetworkField field, const config::NetworkSettings& settings) {
    using Field = config::NetworkField;
    const std::string& text = field == Field::Ip        ? settings.ip
                              : field == Field::Mask    ? settings.mask
                              : field == Field::Gateway ? settings.gateway
                                                        : settings.mac;
    const char* kind = field == Field::Mask  ? "a netmask"
                       : field == Field::Mac ? "six pairs of hex digits separated by ':'"
                                             : "a dotted IPv4 address";
    return QStringLiteral("'%1' is not %2")
        .arg(printable(QString::fromStdString(text)), QLatin1String(kind));
}

// Runs the change of one device and reports it; `searched` are the addresses of the sweep.
// True when the device took the settings and restarts.
bool changeOne(Report& report, const QString& address, const config::NetworkSettings& settings,
               const std::vector<std::string>& searched) {
    neb::CJsonObject& entry = report.begin(address);
    const std::pair<const char*, const std::string*> fields[] = {{"ip", &settings.ip},
                                                                 {"mask", &settings.mask},
                                                                 {"gateway", &settings.gateway},
                                                                 {"mac", &settings.mac}};
    QStringList shown;
    for (const auto& [key, text] : fields) {
        entry.PutString(key, *text);
        shown << printable(QString::fromStdString(*text));
    }
    const config::NetworkChange change = config::changeNetwork(utf8(address), settings, searched);
    switch (change.outcome) {
        case config::NetworkOutcome::FieldTooLong:
            report.fail(QStringLiteral("check"),
                        QStringLiteral("a field is longer than the device takes"));
            break;
        case config::NetworkOutcome::FieldMalformed:
            report.fail(QStringLiteral("check"), malformedProblem(change.malformed, settings) +
                                                     QStringLiteral("; nothing was sent"));
            break;
        case config::NetworkOutcome::AddressTaken:
            report.fail(QStringLiteral("check"),
                        QStringLiteral("its new address %1 answered the sweep; nothing was sent")
                            .arg(shown[0]));
            break;
        case config::NetworkOutcome::SettingsFailed:
            report.fail(QStringLiteral("settings"),
                        replyProblem(change.settings_reply, config::kNetworkAcceptLength));
            break;
        case config::NetworkOutcome::RestartFailed:
            report.fail(QStringLiteral("restart"),
                        QStringLiteral("settings saved, but the restart was %1; they take "
                                       "effect at the device's next restart")
                            .arg(replyProblem(change.restart_reply, config::kNetworkAcceptLength)));
            break;
        case config::NetworkOutcome::Restarting:
            report.line(QStringLiteral("restarting as %1 mask %2 gateway %3 mac %4")
                            .arg(shown[0], shown[1], shown[2], shown[3]));
            break;
    }
    return report.end() && change.outcome == config::NetworkOutcome::Restarting;
}

int runReboot(Invocation& in) {
    const QStringList given = in.addresses();
    const std::optional<WaitRequest> wait = waitRequest(in, false);
    applyRequestTimeout(in);
    const SweepPlan plan = sweepPlan(in);
    // --rate alone was refused by the plan; with a range or a target the plan has targets.
    if (!wait && !plan.targets.empty()) {
        throw UsageError{QStringLiteral("--range, --target and --rate go with --wait")};
    }
    Report report(in.json());
    // With --wait the devices' MACs come from a sweep; an address two devices answered with is
    // refused, since the restart could reach either and the wait could not tell them apart.
    const std::vector<Device_Info> devices = wait ? sweep(plan) : std::vector<Device_Info>{};
    QStringList addresses;
    for (const QString& address : given) {
        const QString conflict = conflictProblem(devices, address);
        if (conflict.isEmpty()) {
            addresses << address;
            continue;
        }
        report.begin(address);
        report.fail(QStringLiteral("conflict"), conflict);
        report.end();
    }
    std::vector<WaitItem> waits;
    using corvane::maintenance::RebootReply;
    corvane::maintenance::RebootEvents events;
    events.started = [&](int i) { report.begin(addresses[i]); };
    // Each line appears as its device is done.
    events.outcome = [&](int i, RebootReply reply) {
        switch (reply) {
            case RebootReply::Confirmed:
                report.line(QStringLiteral("restarting"));
                waits.push_back({report.size(),
                                 watchedDevice(findDevice(devices, addresses[i]), addresses[i])});
                break;
            case RebootReply::Refused:
                report.fail(QStringLiteral("restart"),
                            QStringLiteral("refused (a reply with \"Result\" below 0)"));
                break;
            case RebootReply::Silent:
                report.fail(QStringLiteral("restart"),
                            QStringLiteral("no confirmation (no answer, or a reply under %1 bytes)")
                                .arg(config::kNetworkAcceptLength));
                break;
        }
        report.end();
    };
    corvane::maintenance::reboot_devices(addresses, events);
    if (wait) {
        waitForDevices(report, waits, *wait, plan);
    }
    return report.finish();
}

int runNet(Invocation& in) {
    const QString address = in.addresses(1).first();
    const std::optional<QString> ip = in.dotted(QStringLiteral("ip"));
    const std::optional<QString> mask = netmask(in);
    const std::optional<QString> gateway = in.dotted(QStringLiteral("gateway"));
    const bool mac = in.isSet(QStringLiteral("mac"));
    if (!ip && !mask && !gateway && !mac) {
        throw UsageError{
            QStringLiteral("nothing to change: give --ip, --mask, --gateway or --mac")};
    }
    const std::string mac_text = utf8(in.value(QStringLiteral("mac")));
    if (mac && mac_text.size() > config::kMacFieldLimit) {
        throw UsageError{
            QStringLiteral("--mac takes at most %1 characters").arg(config::kMacFieldLimit)};
    }
    if (mac && !config::isMacAddress(mac_text)) {
        throw UsageError{QStringLiteral("--mac: '%1' is not six pairs of hex digits separated "
                                        "by ':'")
                             .arg(in.value(QStringLiteral("mac")))};
    }
    const std::optional<WaitRequest> wait = waitRequest(in, false);
    applyRequestTimeout(in);
    // Checked also when no sweep runs, so that a wrong range is never passed over silently.
    const SweepPlan plan = sweepPlan(in);

    config::NetworkSettings settings{ip ? utf8(*ip) : std::string(),
                                     mask ? utf8(*mask) : std::string(),
                                     gateway ? utf8(*gateway) : std::string(), mac_text};
    Report report(in.json());
    std::vector<Device_Info> devices;
    const bool keeps = !ip || !mask || !gateway || !mac;
    if (keeps || *ip != address) {
        devices = sweep(plan);
    }
    const Device_Info* device = findDevice(devices, address);
    if (keeps) {
        QString problem = conflictProblem(devices, address);
        if (device == nullptr || !problem.isEmpty()) {
            report.begin(address);
            if (problem.isEmpty()) {
                report.fail(QStringLiteral("sweep"),
                            QStringLiteral("did not answer the sweep, so its present settings are "
                                           "unknown; give all of --ip, --mask, --gateway and "
                                           "--mac"));
            } else {
                // The settings to keep would be either device's; with all four given the
                // change is the way out of the conflict, as the window's double-click is.
                report.fail(QStringLiteral("conflict"),
                            problem + QStringLiteral("; give all of --ip, --mask, --gateway and "
                                                     "--mac to change whichever takes it"));
            }
            report.end();
            return report.finish();
        }
        settings.ip = ip ? settings.ip : swept(device->ip);
        settings.mask = mask ? settings.mask : swept(device->mask);
        settings.gateway = gateway ? settings.gateway : swept(device->gateway);
        settings.mac = mac ? settings.mac : swept(device->mac);
    }
    const std::size_t entry = report.size();
    if (changeOne(report, address, settings, device_addresses(devices)) && wait) {
        // After a conflict the record could be the other device's: only the address is known.
        waitForDevices(report,
                       {{entry, watchedDevice(device && !device->conflict ? device : nullptr,
                                              address, QString::fromStdString(settings.ip),
                                              QString::fromStdString(settings.mac))}},
                       *wait, plan);
    }
    return report.finish();
}

// Why a device may not get `target` (the step and the words); empty when it may.
std::pair<QString, QString> assignConflict(const std::vector<Device_Info>& devices,
                                           const QString& address, const QString& target) {
    if (findDevice(devices, address) == nullptr) {
        return {QStringLiteral("check"), QStringLiteral("did not answer the sweep")};
    }
    const QString conflict = conflictProblem(devices, address);
    if (!conflict.isEmpty()) {
        return {QStringLiteral("conflict"), conflict};
    }
    if (target != address && findDevice(devices, target) != nullptr) {
        return {QStringLiteral("check"),
                QStringLiteral("its new address %1 answered the sweep").arg(target)};
    }
    return {};
}

int runAssign(Invocation& in) {
    const QStringList addresses = in.addresses();
    const std::optional<QString> from = in.dotted(QStringLiteral("from"));
    if (!from) {
        throw UsageError{QStringLiteral("--from FIRST is needed")};
    }
    const std::optional<QString> mask = netmask(in);
    const std::optional<QString> gateway = in.dotted(QStringLiteral("gateway"));
    const std::uint32_t first = *addressValue(*from);
    const std::uint32_t last = first + std::uint32_t(addresses.size() - 1);
    const std::uint32_t host_first = first & 0xff;
    // .0 and .255 name a /24 network and its broadcast, never a device.
    if (host_first == 0 || host_first + std::uint32_t(addresses.size() - 1) > 254) {
        const QString network = addressText(first & 0xffffff00u).section(QLatin1Char('.'), 0, 2);
        throw UsageError{QStringLiteral("%1 addresses from %2 run to %3, outside %4.1 to %4.254")
                             .arg(addresses.size())
                             .arg(*from, addressText(last), network)};
    }
    const std::optional<WaitRequest> wait = waitRequest(in, false);
    applyRequestTimeout(in);

    const SweepPlan plan = sweepPlan(in);
    const std::vector<Device_Info> devices = sweep(plan);
    Report report(in.json());
    QStringList targets;
    std::vector<std::pair<QString, QString>> conflicts;
    for (int i = 0; i < addresses.size(); ++i) {
        targets << addressText(first + std::uint32_t(i));
        conflicts.push_back(assignConflict(devices, addresses[i], targets.last()));
    }
    const bool refused =
        std::any_of(conflicts.begin(), conflicts.end(),
                    [](const std::pair<QString, QString>& c) { return !c.first.isEmpty(); });
    std::vector<WaitItem> waits;
    for (int i = 0; i < addresses.size(); ++i) {
        const QString& address = addresses[i];
        const Device_Info* device = findDevice(devices, address);
        report.begin(address).PutString("ip", utf8(targets[i]));
        const auto& [step, conflict] = conflicts[std::size_t(i)];
        if (refused) {
            report.fail(step.isEmpty() ? QStringLiteral("check") : step,
                        conflict.isEmpty() ? QStringLiteral("not changed: the range was refused")
                                           : conflict + QStringLiteral("; nothing was changed"));
            report.end();
        } else if (targets[i] == address) {
            report.line(QStringLiteral("has %1 already; left as it is").arg(address));
            report.end();
        } else {
            const config::NetworkSettings settings{
                utf8(targets[i]), mask ? utf8(*mask) : swept(device->mask),
                gateway ? utf8(*gateway) : swept(device->gateway), swept(device->mac)};
            const std::size_t entry = report.size();
            if (changeOne(report, address, settings, device_addresses(devices))) {
                waits.push_back(
                    {entry, watchedDevice(device, address, QString::fromStdString(settings.ip),
                                          QString::fromStdString(settings.mac))});
            }
        }
    }
    if (wait) {
        waitForDevices(report, waits, *wait, plan);
    }
    return report.finish();
}

}  // namespace

Command rebootCommand() {
    static const QByteArray help = withSweepOptions(
        QString::fromUtf8(withRequestTimeout(kRebootHelp)).arg(waitHelp(false)).toUtf8());
    return {"reboot", "restart devices", help.constData(),
            QList<QCommandLineOption>{requestTimeoutOption()} + sweepOptions() + waitOptions(false),
            runReboot};
}

Command netCommand() {
    static const QByteArray help = withSweepOptions(
        QString::fromUtf8(withRequestTimeout(kNetHelp)).arg(waitHelp(false)).toUtf8());
    return {"net", "change a device's address, mask, gateway or MAC, and restart it",
            help.constData(),
            QList<QCommandLineOption>{valued("ip"), valued("mask"), valued("gateway"),
                                      valued("mac"), requestTimeoutOption()} +
                sweepOptions() + waitOptions(false),
            runNet};
}

Command assignCommand() {
    static const QByteArray help = withSweepOptions(
        QString::fromUtf8(withRequestTimeout(kAssignHelp)).arg(waitHelp(false)).toUtf8());
    return {"assign", "give devices consecutive addresses", help.constData(),
            QList<QCommandLineOption>{valued("from"), valued("mask"), valued("gateway"),
                                      requestTimeoutOption()} +
                sweepOptions() + waitOptions(false),
            runAssign};
}

}  // namespace corvane::cli
