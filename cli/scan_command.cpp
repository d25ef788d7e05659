// scan: one discovery sweep, listed as the window's table lists it.
#include <QStringList>

#include <algorithm>
#include <array>

#include "cli/command_line.h"
#include "cli/output.h"
#include "cli/sweep.h"
#include "discovery/device_order.h"

namespace corvane::cli {

namespace {

const char* const kHelp =
    R"(Usage: corvane-cli scan [--kind tx|rx|kvm_rx] [--version-prefix TEXT]
                        [--range CIDR]... [--target ADDR...] [--rate N]
                        [--json | --csv | --quiet]

Sends the discovery probe from every local IPv4 address and lists the devices that answered:
transmitters first, then receivers, KVM receivers and other kinds, each group ordered by
address, as the window's table shows them. The sweep ends one second after the last reply.
With --range or --target the probe goes by unicast to each address named instead (with
--target, addresses after the options are targets too), and the sweep ends one second after
the last reply that followed the last probe.

Each device has a status: ok; conflict when another device (another MAC) answered with the
same address, so that a command sent there could reach either; other-subnet when its address
lies in none of the subnets of this computer's addresses, so that commands reach it only
through a router (a device both in conflict and elsewhere shows conflict).

Options:
  --kind KIND             only devices of this kind: tx (kinds 1102 and 1200), rx, kvm_rx
  --version-prefix TEXT   only devices whose firmware version starts with TEXT
  --json                  a JSON array, one object per device
  --csv                   comma-separated values under a header line (device texts
                          filtered as in the table, "'" before a field that starts with =,
                          +, - or @, fields with a comma or quotation mark quoted; lines end
                          in LF)
  -q, --quiet             only the addresses, one a line (for the other commands)
@SWEEP@
  --verbose               the sweep's diagnostics on standard error
  -h, --help              this text

Exit status: 0, also when no device answered; 1 when devices of the list are in conflict or a
local address (or the unicast sweep) received the most replies a sweep reads (devices may be
missing: a warning on standard error says so); 2 for bad usage.
)";

constexpr std::size_t kColumnCount = 8;
constexpr std::array<const char*, kColumnCount> kColumns{"ADDRESS", "KIND", "VERSION", "MASK",
                                                         "GATEWAY", "MAC",  "UPTIME",  "STATUS"};

// A conflict says more than the subnet: the address itself cannot be trusted.
QString statusWord(const Device_Info& d) {
    return d.conflict       ? QStringLiteral("conflict")
           : d.other_subnet ? QStringLiteral("other-subnet")
                            : QStringLiteral("ok");
}

// A device's columns. Device texts are read as UTF-8, invalid bytes replaced, so that every
// form printed from them is valid UTF-8.
std::array<QString, kColumnCount> columnsOf(const Device_Info& d) {
    return {QString::fromUtf8(d.ip),      QString::fromStdString(kind_text(d.type)),
            QString::fromUtf8(d.version), QString::fromUtf8(d.mask),
            QString::fromUtf8(d.gateway), QString::fromUtf8(d.mac),
            QString::fromUtf8(d.uptime),  statusWord(d)};
}

void printTable(const std::vector<Device_Info>& devices) {
    if (devices.empty()) {
        return;
    }
    std::vector<std::array<QString, kColumnCount>> rows;
    std::array<QString, kColumnCount> header;
    std::array<int, kColumnCount> width{};
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
        header[c] = QString::fromLatin1(kColumns[c]);
        width[c] = header[c].size();
    }
    rows.push_back(header);
    for (const Device_Info& d : devices) {
        std::array<QString, kColumnCount> row = columnsOf(d);
        for (std::size_t c = 0; c < row.size(); ++c) {
            row[c] = printable(row[c]);
            width[c] = std::max(width[c], int(row[c].size()));
        }
        rows.push_back(row);
    }
    for (const auto& row : rows) {
        QString line;
        for (std::size_t c = 0; c + 1 < row.size(); ++c) {
            line += row[c].leftJustified(width[c] + 2);
        }
        say(line + row.back());
    }
}

void printCsv(const std::vector<Device_Info>& devices) {
    QStringList header;
    for (const char* name : kColumns) {
        header << QString::fromLatin1(name).toLower();
    }
    say(header.join(QLatin1Char(',')));
    for (const Device_Info& d : devices) {
        QStringList fields;
        for (const QString& text : columnsOf(d)) {
            fields << csvField(text);
        }
        say(fields.join(QLatin1Char(',')));
    }
}

void printJson(const std::vector<Device_Info>& devices) {
    std::vector<neb::CJsonObject> items;
    for (const Device_Info& d : devices) {
        const std::array<QString, kColumnCount> texts = columnsOf(d);
        neb::CJsonObject item;
        item.PutString("address", utf8(texts[0]));
        item.PutString("kind", utf8(texts[1]));
        item.PutUint32("type", d.type);
        item.PutString("version", utf8(texts[2]));
        item.PutString("mask", utf8(texts[3]));
        item.PutString("gateway", utf8(texts[4]));
        item.PutString("mac", utf8(texts[5]));
        item.PutString("uptime", utf8(texts[6]));
        item.PutString("status", utf8(texts[7]));
        items.push_back(item);
    }
    sayJsonArray(items);
}

int runScan(Invocation& in) {
    // Addresses after the options are unicast targets, never a filter of a broadcast.
    if (!in.positional().isEmpty() && !in.isSet(QStringLiteral("target"))) {
        throw UsageError{QStringLiteral("takes no addresses but those of --target; it finds them")};
    }
    const int formats = int(in.json()) + int(in.isSet(QStringLiteral("csv"))) +
                        int(in.isSet(QStringLiteral("quiet")));
    if (formats > 1) {
        throw UsageError{QStringLiteral("--json, --csv and --quiet exclude each other")};
    }
    const std::optional<int> kind = in.choice(QStringLiteral("kind"), {"tx", "rx", "kvm_rx"});
    const QByteArray prefix = in.value(QStringLiteral("version-prefix")).toUtf8();

    bool incomplete = false;
    std::vector<Device_Info> devices = sweep(in, in.positional(), &incomplete);
    devices.erase(std::remove_if(devices.begin(), devices.end(),
                                 [&](const Device_Info& d) {
                                     return (kind && int(device_group(d.type)) != *kind) ||
                                            !QByteArray(d.version).startsWith(prefix);
                                 }),
                  devices.end());

    if (in.json()) {
        printJson(devices);
    } else if (in.isSet(QStringLiteral("csv"))) {
        printCsv(devices);
    } else if (in.isSet(QStringLiteral("quiet"))) {
        for (const Device_Info& d : devices) {
            say(QString::fromUtf8(d.ip));
        }
    } else {
        printTable(devices);
    }
    const bool conflict = std::any_of(devices.begin(), devices.end(),
                                      [](const Device_Info& d) { return d.conflict; });
    return conflict || incomplete ? kExitFailed : kExitOk;
}

}  // namespace

Command scanCommand() {
    static const QByteArray help = withSweepOptions(kHelp);
    return {"scan",
            "find the devices on every local network (or the addresses named) and list them",
            help.constData(),
            QList<QCommandLineOption>{
                valued("kind"), valued("version-prefix"), QCommandLineOption(QStringLiteral("csv")),
                QCommandLineOption(QStringList{QStringLiteral("q"), QStringLiteral("quiet")})} +
                sweepOptions(),
            runScan};
}

}  // namespace corvane::cli
