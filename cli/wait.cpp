#include "cli/wait.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "cli/sweep.h"

namespace corvane::cli {

namespace maintenance = corvane::maintenance;

QList<QCommandLineOption> waitOptions(bool upgrade) {
    QList<QCommandLineOption> options{valued("wait")};
    if (upgrade) {
        options << valued("expect-version");
    }
    return options;
}

QString waitHelp(bool upgrade) {
    QString text = QStringLiteral(
        "  --wait SECONDS          then sweep every 5 s until each device answers again (at its\n"
        "                          new address after a change of it), at most SECONDS (1 to\n"
        "                          3600); a device not back in time fails with step wait\n");
    if (upgrade) {
        text += QStringLiteral(
            "  --expect-version PREFIX with --wait: a device that comes back with a version\n"
            "                          not starting with PREFIX fails with step version\n");
    }
    return text;
}

std::optional<WaitRequest> waitRequest(const Invocation& in, bool upgrade) {
    const bool expect = upgrade && in.isSet(QStringLiteral("expect-version"));
    if (!in.isSet(QStringLiteral("wait"))) {
        if (expect) {
            throw UsageError{QStringLiteral("--expect-version needs --wait")};
        }
        return std::nullopt;
    }
    WaitRequest request;
    request.seconds = *in.integer(QStringLiteral("wait"), 1, 3600);
    request.versions = upgrade;
    if (expect) {
        request.expect_version = in.value(QStringLiteral("expect-version"));
        if (request.expect_version.isEmpty()) {
            throw UsageError{QStringLiteral("--expect-version takes a non-empty prefix")};
        }
    }
    return request;
}

maintenance::WatchedDevice watchedDevice(const Device_Info* device, const QString& address,
                                         const QString& expected_address,
                                         const QString& expected_mac) {
    maintenance::WatchedDevice d;
    if (device != nullptr) {
        d.last = *device;
    } else {
        copy_field(d.last.ip, utf8(address));
    }
    d.expected_address = expected_address;
    d.expected_mac = expected_mac;
    return d;
}

namespace {

QString seconds(long long ms) {
    return QString::number(ms / 1000.0, 'f', 1);
}

bool reportBack(Report& report, const WaitItem& item, const maintenance::WatchReturn& back,
                const WaitRequest& request) {
    neb::CJsonObject& entry = report.resume(item.entry);
    const QString address = QString::fromUtf8(back.found.ip);
    const QString version = QString::fromUtf8(back.found.version);
    const QString before = QString::fromUtf8(item.device.last.version);
    neb::CJsonObject wait;
    wait.PutBool("back", true);
    wait.PutString("address", utf8(address));
    wait.PutDouble("seconds", back.after_ms / 1000.0);
    if (request.versions) {
        wait.PutString("version", utf8(version));
        wait.PutString("versionBefore", utf8(before));
    }
    entry.PutDocument("wait", wait);
    QString where;
    if (address != QString::fromUtf8(item.device.last.ip)) {
        where = QStringLiteral(" at %1").arg(address);
    }
    switch (back.outcome) {
        case maintenance::WatchOutcome::Back:
            report.line(QStringLiteral("back%1 after %2 s").arg(where, seconds(back.after_ms)));
            break;
        case maintenance::WatchOutcome::NewVersion:
            report.line(
                QStringLiteral("back%1 with version %2 (was %3) after %4 s")
                    .arg(where, printable(version), printable(before), seconds(back.after_ms)));
            break;
        case maintenance::WatchOutcome::SameVersion:
            report.line(QStringLiteral("back%1 with the same version %2 after %3 s")
                            .arg(where, printable(version), seconds(back.after_ms)));
            break;
    }
    if (!request.expect_version.isEmpty() && !version.startsWith(request.expect_version)) {
        report.fail(QStringLiteral("version"),
                    QStringLiteral("back with version %1, which does not start with %2")
                        .arg(printable(version), printable(request.expect_version)));
    }
    return report.end();
}

}  // namespace

QStringList waitForDevices(Report& report, const std::vector<WaitItem>& items,
                           const WaitRequest& request, const SweepPlan& plan) {
    QStringList failed;
    if (items.empty()) {
        return failed;
    }
    std::vector<maintenance::WatchedDevice> devices;
    for (const WaitItem& item : items) {
        devices.push_back(item.device);
    }
    maintenance::WatchOptions options;
    options.limit_ms = request.seconds * 1000;
    options.compare_versions = request.versions;
    maintenance::Watch watch(devices, options);
    // A device moved outside the named range is still looked for where it went.
    SweepPlan watched = plan;
    if (!watched.targets.empty()) {
        for (const maintenance::WatchedDevice& device : watch.devices()) {
            const std::optional<std::uint32_t> value = addressValue(device.expected_address);
            if (value && std::find(watched.targets.begin(), watched.targets.end(), *value) ==
                             watched.targets.end()) {
                watched.targets.push_back(*value);
            }
        }
    }
    maintenance::WatchEvents events;
    events.swept = [&](const std::vector<maintenance::WatchReturn>& back) {
        for (const maintenance::WatchReturn& r : back) {
            const WaitItem& item = items[std::size_t(r.index)];
            if (!reportBack(report, item, r, request)) {
                failed << QString::fromUtf8(item.device.last.ip);
            }
        }
    };
    events.finished = [&](const std::vector<int>& missing) {
        for (const int i : missing) {
            const WaitItem& item = items[std::size_t(i)];
            neb::CJsonObject& entry = report.resume(item.entry);
            const QString& at = watch.devices()[std::size_t(i)].expected_address;
            neb::CJsonObject wait;
            wait.PutBool("back", false);
            wait.PutString("address", utf8(at));
            entry.PutDocument("wait", wait);
            report.fail(
                QStringLiteral("wait"),
                at == QString::fromUtf8(item.device.last.ip)
                    ? QStringLiteral("not back within %1 s").arg(request.seconds)
                    : QStringLiteral("not back at %1 within %2 s").arg(at).arg(request.seconds));
            report.end();
            failed << QString::fromUtf8(item.device.last.ip);
        }
    };
    maintenance::run_watch(
        watch, [&watched] { return sweep(watched); }, events);
    return failed;
}

}  // namespace corvane::cli
