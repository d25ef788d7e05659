// backup, restore and diff: a whole site's settings kept in a file, put back, and compared.
#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/output.h"
#include "cli/site_file.h"
#include "cli/sweep.h"
#include "discovery/device_order.h"
#include "protocol/config_commands.h"
#include "protocol/video_commands.h"

namespace corvane::cli {

namespace {

namespace config = corvane::config;
namespace video = corvane::video;

const char* const kBackupHelp =
    R"(Usage: corvane-cli backup [--out FILE] [--timeout SECONDS] [ADDR...]

Sweeps, reads every device's settings (or those of the addresses given) and writes them as
one JSON document: its format and version, when and by which tool it was written, and per
device its MAC (the key), kind, firmware, address, mask, gateway and settings: transmitters
their video streams (and the custom size when stream 1 uses it) and audio input, receivers
their audio output. A device whose read fails is listed with the failure (exit 1); the rest
is written. The file is replaced only once it is written whole.

Options:
  --out FILE              write the document to FILE (one line per device on standard
                          output); without it the document goes to standard output
@SWEEP@
%1  --json                  with --out: a JSON array, one object per device, instead of lines
  -h, --help              this text

Exit status: 0 when every device was read; 1 when any was not (the step says where: sweep,
video, audio-in, audio-out) or the file could not be written; 2 for bad usage.
)";

const char* const kRestoreHelp =
    R"(Usage: corvane-cli restore FILE [--only MAC]... [--network] [--dry-run]
                           [--from-mac OLD --to ADDR] [--timeout SECONDS] [--json]

Finds the devices of a backup by MAC in a sweep, reads their settings and writes only those
that differ from the file, each read back: a stream as a whole (on stream 1 with its custom
size), the audio input or output. The network settings (address, mask, gateway; never the
MAC) only with --network: they are checked as the network window checks them, written last
and restart the device. A file of another format version or a damaged one is refused before
anything is sent.

Options:
  --only MAC              only this device of the file (more than once)
  --network               also the network settings
  --dry-run               print what would be written; only reads are sent
  --from-mac OLD          the settings of device OLD of the file ...
  --to ADDR               ... onto the device at ADDR (a replacement with a new MAC)
@SWEEP@
%1  --json                  a JSON array, one object per device, instead of lines
  -h, --help              this text

Exit status: 0 when every device holds the file's settings (or, with --dry-run, could be
read); 1 when any does not (the step says where: file, sweep, kind, read, write, read-back,
network); 2 for bad usage or a file that is refused.
)";

const char* const kDiffHelp =
    R"(Usage: corvane-cli diff FILE [--timeout SECONDS] [--json]

Sweeps, reads every device's settings and says what changed since the backup FILE: devices
added ("+ MAC ADDRESS"), missing ("- MAC ADDRESS") and each changed setting ("~ MAC ADDRESS
SETTING: OLD -> NEW"), as lines or as a JSON array.

Options:
@SWEEP@
%1  --json                  a JSON array, one object per difference
  -h, --help              this text

Exit status: 0 when nothing differs; 1 when anything does (or a device could not be read);
2 for bad usage or a file that is refused.
)";

struct ReadFailure {
    std::string step;
    std::string message;
};

// The reply texts say why a read gave nothing.
std::optional<ReadFailure> readVideoInto(DeviceSettings& d) {
    const video::VideoRead read = video::readVideo(d.address.c_str());
    if (!read.streams.answered || !read.streams.readable) {
        return ReadFailure{"video", read.streams.answered ? "the reply is not JSON" : "no answer"};
    }
    const int listed = std::min<int>(read.streams.listed, video::kStreamCount);
    for (int i = 0; i < listed; ++i) {
        const video::Stream& s = read.streams.streams[std::size_t(i)];
        const std::vector<const char*> missing = video::unreadMembers(s);
        if (!missing.empty()) {
            std::string names;
            for (const char* m : missing) {
                names += (names.empty() ? "" : ", ") + std::string(m);
            }
            return ReadFailure{"video", "stream " + std::to_string(i + 1) + " lacks " + names};
        }
        d.streams.push_back(s);
    }
    if (read.custom_asked) {
        if (read.custom.width < 0 || read.custom.height < 0) {
            return ReadFailure{"video", "stream 1 uses the custom size, which could not be read"};
        }
        d.custom_size = std::array<std::int32_t, 2>{read.custom.width, read.custom.height};
    }
    return std::nullopt;
}

// The settings of the device's kind, read into `d`; the failure of the first read that failed.
std::optional<ReadFailure> readSettings(DeviceSettings& d) {
    switch (device_group(d.type)) {
        case DeviceGroup::TX: {
            if (std::optional<ReadFailure> failure = readVideoInto(d)) {
                return failure;
            }
            const config::TxAudio audio = config::readTxAudio(d.address);
            if (audio.audio_in != 0 && audio.audio_in != 1) {
                return ReadFailure{"audio-in", "no audio input setting in the reply"};
            }
            d.audio_in = audio.audio_in;
            return std::nullopt;
        }
        case DeviceGroup::RX:
        case DeviceGroup::KVM_RX: {
            const config::RxAudio audio = config::readRxAudio(d.address);
            if (!audio.usable || audio.ao_dev_id < 0) {
                return ReadFailure{"audio-out", "no audio output setting in the reply"};
            }
            d.audio_out = audio.ao_dev_id;
            return std::nullopt;
        }
        case DeviceGroup::Other:
            break;
    }
    return std::nullopt;
}

// A device's record: its sweep values and the settings of its kind, read now.
DeviceSettings readDevice(const Device_Info& info) {
    DeviceSettings d;
    d.mac = macKey(info.mac);
    d.type = info.type;
    d.kind = kind_text(info.type);
    d.firmware = info.version;
    d.address = info.ip;
    d.mask = info.mask;
    d.gateway = info.gateway;
    // A read from an address two devices answered with could bring the other device's settings
    // under this MAC.
    const std::optional<ReadFailure> failure =
        info.conflict ? std::optional<ReadFailure>(ReadFailure{
                            "conflict",
                            "another device answered the sweep with this address; its settings "
                            "could be either's, so nothing was read"})
                      : readSettings(d);
    if (failure) {
        d.streams.clear();
        d.custom_size.reset();
        d.audio_in.reset();
        d.audio_out.reset();
        d.failed_step = failure->step;
        d.failure = failure->message;
    }
    return d;
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// The whole file, refused as bad usage when it cannot be read or is not a record of this
// version: nothing has been sent then.
SiteRecord loadRecord(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw UsageError{QStringLiteral("'%1' cannot be read: %2").arg(path, file.errorString())};
    }
    const SiteRead read = readSite(file.readAll().toStdString());
    if (!read.record) {
        throw UsageError{QStringLiteral("'%1' is refused: %2").arg(path, qs(read.error))};
    }
    return *read.record;
}

QString onePath(const Invocation& in) {
    const QStringList files = in.positional();
    if (files.size() != 1) {
        throw UsageError{QStringLiteral("takes one settings file")};
    }
    return files.first();
}

int runBackup(Invocation& in) {
    const QString out = in.value(QStringLiteral("out"));
    if (in.json() && out.isEmpty()) {
        throw UsageError{QStringLiteral("--json goes with --out: the document is JSON already")};
    }
    QStringList wanted;
    if (!in.positional().isEmpty()) {
        wanted = in.addresses();
    }
    applyRequestTimeout(in);
    const std::vector<Device_Info> devices = sweep(in);
    // Its report goes to standard error alone when the document takes standard output.
    Report report(in.json());
    const bool lines = !out.isEmpty();
    SiteRecord record;
    record.written = utf8(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    record.tool = "corvane-cli " CORVANE_VERSION;
    std::vector<const Device_Info*> chosen;
    for (const QString& address : wanted) {
        if (const Device_Info* d = findDevice(devices, address)) {
            chosen.push_back(d);
        } else {
            report.begin(address);
            report.fail(QStringLiteral("sweep"),
                        QStringLiteral("did not answer the sweep, so it has no MAC to be kept "
                                       "under"));
            report.end();
        }
    }
    if (wanted.isEmpty()) {
        for (const Device_Info& d : devices) {
            chosen.push_back(&d);
        }
    }
    for (const Device_Info* info : chosen) {
        DeviceSettings d = readDevice(*info);
        neb::CJsonObject& entry = report.begin(qs(d.address));
        entry.PutString("mac", d.mac);
        entry.PutString("kind", d.kind);
        if (!d.failed_step.empty()) {
            report.fail(qs(d.failed_step), qs(d.failure));
        } else if (lines) {
            report.line(QStringLiteral("%1 %2 kept").arg(qs(d.mac), qs(d.kind)));
        }
        report.end();
        record.devices.push_back(std::move(d));
    }
    const QByteArray text = QByteArray::fromStdString(siteText(record));
    if (out.isEmpty()) {
        sayText(QString::fromUtf8(text));
    } else {
        QSaveFile file(out);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
            error(QStringLiteral("%1: write: %2").arg(out, file.errorString()));
            report.finish();
            return kExitFailed;
        }
        if (!in.json()) {
            say(QStringLiteral("wrote %1 %2 to %3")
                    .arg(record.devices.size())
                    .arg(record.devices.size() == 1 ? "device" : "devices", out));
        }
    }
    return report.finish();
}

// Reads the present settings of every device of the sweep, failures told as they come.
SiteRecord readPresent(const std::vector<Device_Info>& devices) {
    SiteRecord now;
    for (const Device_Info& info : devices) {
        DeviceSettings d = readDevice(info);
        if (!d.failed_step.empty()) {
            error(
                QStringLiteral("%1: %2: %3").arg(qs(d.address), qs(d.failed_step), qs(d.failure)));
        }
        now.devices.push_back(std::move(d));
    }
    return now;
}

int runDiff(Invocation& in) {
    const SiteRecord before = loadRecord(onePath(in));
    applyRequestTimeout(in);
    const SiteRecord now = readPresent(sweep(in));
    const bool unread = std::any_of(now.devices.begin(), now.devices.end(),
                                    [](const DeviceSettings& d) { return !d.failed_step.empty(); });
    const std::vector<SiteDifference> differences = compareSites(before, now);
    if (in.json()) {
        std::vector<neb::CJsonObject> items;
        for (const SiteDifference& d : differences) {
            neb::CJsonObject item;
            item.PutString("change", d.kind == SiteDifference::Kind::Added     ? "added"
                                     : d.kind == SiteDifference::Kind::Missing ? "missing"
                                                                               : "changed");
            item.PutString("mac", d.mac);
            item.PutString("address", d.address);
            if (d.kind == SiteDifference::Kind::Changed) {
                item.PutString("setting", d.setting);
                item.PutString("old", d.before);
                item.PutString("new", d.after);
            }
            items.push_back(item);
        }
        sayJsonArray(items);
    } else {
        for (const SiteDifference& d : differences) {
            say(QString::fromStdString(differenceLine(d)));
        }
    }
    return differences.empty() && !unread ? kExitOk : kExitFailed;
}

// Writes the differences `todo` between the record `want` and the device's present settings
// `have`, each write read back; network settings last, since they restart the device.
void writeDifferences(Report& report, neb::CJsonObject& entry, const DeviceSettings& want,
                      const DeviceSettings& have, const std::vector<SiteDifference>& todo,
                      const std::vector<std::string>& searched) {
    const std::string& ip = have.address;
    entry.PutEmptyArray("written");
    auto written = [&](const QString& what) {
        entry.Member("written").AppendString(utf8(what));
        report.line(QStringLiteral("wrote %1").arg(what));
    };
    auto differs = [&todo](const std::string& prefix) {
        return std::any_of(todo.begin(), todo.end(), [&prefix](const SiteDifference& d) {
            return d.setting.rfind(prefix, 0) == 0;
        });
    };
    const std::size_t streams = std::min(want.streams.size(), have.streams.size());
    for (std::size_t i = 0; i < streams; ++i) {
        const bool custom = i == 0 && want.streams[0].image_size == video::kCustomImageSize;
        if (!differs("stream " + std::to_string(i + 1) + " ") && !(custom && differs("custom"))) {
            continue;
        }
        video::StreamWrite write;
        write.stream_id = int32_t(i);
        write.values = want.streams[i];
        write.custom_size = custom && want.custom_size.has_value();
        if (write.custom_size) {
            write.custom_width = (*want.custom_size)[0];
            write.custom_height = (*want.custom_size)[1];
        }
        const video::WriteResult result = video::changeStream(ip.c_str(), write);
        const QString what = QStringLiteral("stream %1").arg(i + 1);
        if (result.status == video::WriteStatus::NotHeld) {
            report.fail(QStringLiteral("read-back"),
                        what + QStringLiteral(" does not hold the values written"));
            return;
        }
        if (result.status != video::WriteStatus::Written) {
            report.fail(
                QStringLiteral("write"),
                what + QStringLiteral(": ") + replyProblem(result.reply, video::kAcceptLength));
            return;
        }
        written(what);
    }
    if (differs("audio-in")) {
        const config::WriteResult result = config::changeTxAudio(ip, *want.audio_in);
        if (!result.accepted) {
            report.fail(QStringLiteral("write"),
                        QStringLiteral("audio-in: not held after the write (%1)")
                            .arg(replyProblem(result.reply, config::kAudioAcceptLength)));
            return;
        }
        written(QStringLiteral("audio-in"));
    }
    if (differs("audio-out")) {
        const config::WriteResult result = config::changeRxAudio(ip, 1, *want.audio_out);
        if (!result.accepted) {
            report.fail(QStringLiteral("write"),
                        QStringLiteral("audio-out: not held after the write (%1)")
                            .arg(replyProblem(result.reply, config::kAudioAcceptLength)));
            return;
        }
        written(QStringLiteral("audio-out"));
    }
    // Only with --network does `todo` hold these.
    if (differs("address") || differs("mask") || differs("gateway")) {
        // The device keeps its own MAC: a replacement must never take its predecessor's.
        const config::NetworkChange change =
            config::changeNetwork(ip, {want.address, want.mask, want.gateway, have.mac}, searched);
        switch (change.outcome) {
            case config::NetworkOutcome::Restarting:
                written(QStringLiteral("network (%1/%2 via %3); restarting")
                            .arg(qs(want.address), qs(want.mask), qs(want.gateway)));
                break;
            case config::NetworkOutcome::FieldTooLong:
            case config::NetworkOutcome::FieldMalformed:
                report.fail(
                    QStringLiteral("network"),
                    QStringLiteral("the file's address, mask or gateway is not of its form; "
                                   "nothing was sent"));
                break;
            case config::NetworkOutcome::AddressTaken:
                report.fail(QStringLiteral("network"),
                            QStringLiteral("%1 answered the sweep from another device; nothing "
                                           "was sent")
                                .arg(qs(want.address)));
                break;
            case config::NetworkOutcome::SettingsFailed:
                report.fail(QStringLiteral("network"),
                            replyProblem(change.settings_reply, config::kNetworkAcceptLength));
                break;
            case config::NetworkOutcome::RestartFailed:
                report.fail(QStringLiteral("network"),
                            QStringLiteral("settings accepted, restart not: ") +
                                replyProblem(change.restart_reply, config::kNetworkAcceptLength));
                break;
        }
    }
}

int runRestore(Invocation& in) {
    const SiteRecord record = loadRecord(onePath(in));
    const bool network = in.isSet(QStringLiteral("network"));
    const bool dry = in.isSet(QStringLiteral("dry-run"));
    const QString from = in.value(QStringLiteral("from-mac"));
    const std::optional<QString> to = in.dotted(QStringLiteral("to"));
    if (from.isEmpty() != !to) {
        throw UsageError{QStringLiteral("--from-mac and --to go together")};
    }
    QStringList only = in.values(QStringLiteral("only"));
    if (!from.isEmpty()) {
        if (!only.isEmpty()) {
            throw UsageError{
                QStringLiteral("--from-mac restores one device; --only does not go with it")};
        }
        only << from;
    }
    std::vector<const DeviceSettings*> chosen;
    for (const QString& mac : only) {
        const std::string key = macKey(utf8(mac));
        const auto at = std::find_if(record.devices.begin(), record.devices.end(),
                                     [&key](const DeviceSettings& d) { return d.mac == key; });
        if (at == record.devices.end()) {
            throw UsageError{QStringLiteral("%1 is not a MAC of the file").arg(mac)};
        }
        chosen.push_back(&*at);
    }
    if (only.isEmpty()) {
        for (const DeviceSettings& d : record.devices) {
            chosen.push_back(&d);
        }
    }
    applyRequestTimeout(in);
    const std::vector<Device_Info> devices = sweep(in);
    const std::vector<std::string> searched = device_addresses(devices);
    Report report(in.json());
    for (const DeviceSettings* want : chosen) {
        const Device_Info* found = nullptr;
        if (to) {
            found = findDevice(devices, *to);
        } else {
            const auto at =
                std::find_if(devices.begin(), devices.end(),
                             [want](const Device_Info& d) { return macKey(d.mac) == want->mac; });
            found = at == devices.end() ? nullptr : &*at;
        }
        neb::CJsonObject& entry = report.begin(to      ? *to
                                               : found ? qs(found->ip)
                                                       : printable(qs(want->address)));
        entry.PutString("mac", want->mac);
        if (!want->failed_step.empty()) {
            report.fail(QStringLiteral("file"),
                        QStringLiteral("the file holds no settings of %1 (its backup failed: %2)")
                            .arg(qs(want->mac), qs(want->failure)));
        } else if (found == nullptr) {
            report.fail(QStringLiteral("sweep"),
                        to ? QStringLiteral("did not answer the sweep")
                           : QStringLiteral("%1 did not answer the sweep").arg(qs(want->mac)));
        } else if (found->type != want->type) {
            report.fail(QStringLiteral("kind"),
                        QStringLiteral("is a %1, the file's %2 a %3")
                            .arg(qs(kind_text(found->type)), qs(want->mac), qs(want->kind)));
        } else {
            const DeviceSettings have = readDevice(*found);
            // From what the device holds to what the file says.
            std::vector<SiteDifference> todo = settingDifferences(have, *want);
            if (network) {
                for (SiteDifference& d : networkDifferences(have, *want)) {
                    todo.push_back(std::move(d));
                }
            }
            if (!have.failed_step.empty()) {
                report.fail(QStringLiteral("read"), qs(have.failed_step + ": " + have.failure));
            } else if (todo.empty()) {
                report.line(QStringLiteral("holds the file's settings; nothing written"));
            } else if (dry) {
                entry.PutEmptyArray("would-write");
                for (const SiteDifference& d : todo) {
                    const QString what =
                        QStringLiteral("%1: %2 -> %3")
                            .arg(qs(d.setting), printable(qs(d.before)), printable(qs(d.after)));
                    entry.Member("would-write").AppendString(utf8(what));
                    report.line(QStringLiteral("would write ") + what);
                }
            } else {
                writeDifferences(report, entry, *want, have, todo, searched);
            }
        }
        report.end();
    }
    return report.finish();
}

}  // namespace

Command backupCommand() {
    static const QByteArray help = withSweepOptions(withRequestTimeout(kBackupHelp));
    return {"backup", "write every device's settings to a file", help.constData(),
            QList<QCommandLineOption>{valued("out"), requestTimeoutOption()} + sweepOptions(),
            runBackup};
}

Command restoreCommand() {
    static const QByteArray help = withSweepOptions(withRequestTimeout(kRestoreHelp));
    return {"restore", "write a backup's settings back to the devices", help.constData(),
            QList<QCommandLineOption>{valued("only"), QCommandLineOption(QStringLiteral("network")),
                                      QCommandLineOption(QStringLiteral("dry-run")),
                                      valued("from-mac"), valued("to"), requestTimeoutOption()} +
                sweepOptions(),
            runRestore};
}

Command diffCommand() {
    static const QByteArray help = withSweepOptions(withRequestTimeout(kDiffHelp));
    return {"diff", "what changed since a backup", help.constData(),
            QList<QCommandLineOption>{requestTimeoutOption()} + sweepOptions(), runDiff};
}

}  // namespace corvane::cli
