// upgrade: the firmware exchange of the window's upgrade panel, for a list of devices.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/sweep.h"
#include "cli/wait.h"
#include "discovery/device_order.h"
#include "maintenance/batch.h"
#include "maintenance/parallel_upgrade.h"
#include "maintenance/upgrade_packet.h"

namespace corvane::cli {

namespace {

namespace maintenance = corvane::maintenance;
using maintenance::UpgradeProgress;
using maintenance::UpgradeStep;

const char* const kHelp =
    R"(Usage: corvane-cli upgrade --image FILE [--kind tx|rx|kvm_rx] [--timeout SECONDS]
                           [--parallel N] [--wait SECONDS [--expect-version PREFIX]]
                           [--json] ADDR...

Loads a firmware image into each device over TCP port 6000, one device after the other,
100 ms apart (with --parallel N, up to N devices at a time, each over its own connection,
started in the order given); a device that confirms the image installs it and restarts.
The image's path (folders included) must hold the part of the name of the device's kind:
update_app_tx for TX, update_app_application-vwc for RX, update_app_application-kvm_rx for
KVM_RX. The kind comes from a sweep, which every device must answer, or from --kind for all
of them. An address that two devices answered the sweep with is refused (step conflict).
With --wait the sweep runs also with --kind, for the versions before, and each device that
took the image is waited for once the batch is done and its new version reported.

On a terminal a line shows each device's progress (percentage, MB/s, time left), one line
per device at work, redrawn in place; otherwise a line is written at every tenth of the image.
A summary line ends the run.

Ctrl-C stops the run after the device being loaded (with --parallel, after the devices being
loaded; an image is never cut off); the devices not tried are reported as such (step
"stopped") and the summary follows. A second Ctrl-C ends the program at once.

Options:
  --image FILE            the firmware image
  --kind KIND             the kind of every listed device: tx, rx or kvm_rx (no sweep)
  --timeout SECONDS       the longest wait of each step: the connection, each packet going
                          out, each reply (default 6 for the connection, 20 for the others)
  --parallel N            up to N devices at the same time (1 to 32, default 1)
@SWEEP@
%1  --json                  a JSON array, one object per device, instead of lines
  -h, --help              this text

Exit status: 0 when every device took the image (and, with --wait, came back in time with a
version that starts with PREFIX); 1 when any did not (the step says where: sweep, conflict,
kind, name-rule, file, connect, start, image, finish, end, stopped, wait, version); 2 for bad
usage.
)";

const QStringList kKinds{"tx", "rx", "kvm_rx"};

// The step and the words for where an attempt ended.
std::pair<QString, QString> failureOf(const maintenance::UpgradeOutcome& outcome,
                                      const maintenance::UpgradeWaits& waits, const QString& kind) {
    const QString connect_wait = QString::number(waits.connect_ms / 1000.0);
    const QString wait = QString::number(waits.exchange_ms / 1000.0);
    // A wait that ended because the device closed the connection says so, not that time ran out.
    auto waited = [&outcome](const QString& timed_out, const char* when) {
        return outcome.connection_closed
                   ? QStringLiteral("the device closed the connection %1").arg(when)
                   : timed_out;
    };
    switch (outcome.step) {
        case UpgradeStep::NameRule:
            return {QStringLiteral("name-rule"),
                    QStringLiteral("the image's path does not hold %1, the name part of kind %2")
                        .arg(maintenance::image_name_part(kind), kind)};
        case UpgradeStep::FileMissing:
            return {QStringLiteral("file"), QStringLiteral("the image does not exist")};
        case UpgradeStep::FileUnreadable:
            return {QStringLiteral("file"), QStringLiteral("the image cannot be opened")};
        case UpgradeStep::FileTooLarge:
            return {QStringLiteral("file"), QStringLiteral("the image is 2 GiB or larger")};
        case UpgradeStep::FileEmpty:
            return {QStringLiteral("file"), QStringLiteral("the image is empty")};
        case UpgradeStep::FileRead:
            return {QStringLiteral("file"),
                    QStringLiteral("reading the image failed, or its size changed while it was "
                                   "sent")};
        case UpgradeStep::Connect:
            return {QStringLiteral("connect"),
                    QStringLiteral("no connection to port 6000 within %1 s").arg(connect_wait)};
        case UpgradeStep::StartWrite:
            return {QStringLiteral("start"),
                    waited(QStringLiteral("the start command did not go out within %1 s").arg(wait),
                           "before the start command went out")};
        case UpgradeStep::StartReply:
            return {QStringLiteral("start"),
                    waited(QStringLiteral("no reply within %1 s").arg(wait), "without a reply")};
        case UpgradeStep::StartRefused:
            return {QStringLiteral("start"), QStringLiteral("refused (no OK in the reply)")};
        case UpgradeStep::PieceWrite:
            return {
                QStringLiteral("image"),
                waited(QStringLiteral("a piece of the image did not go out within %1 s").arg(wait),
                       "while the image was being sent")};
        case UpgradeStep::FinishWrite:
            return {
                QStringLiteral("finish"),
                waited(QStringLiteral("the finish command did not go out within %1 s").arg(wait),
                       "before the finish command went out")};
        case UpgradeStep::FinishReply:
            return {QStringLiteral("finish"),
                    waited(QStringLiteral("the image was not confirmed within %1 s").arg(wait),
                           "without confirming the image")};
        case UpgradeStep::FinishRefused:
            return {QStringLiteral("finish"),
                    QStringLiteral("the image was not confirmed (no OK in the reply)")};
        case UpgradeStep::EndWrite:
            return {QStringLiteral("end"),
                    QStringLiteral("the image was confirmed, but %1: restart the device by hand")
                        .arg(waited(QStringLiteral("the end command did not go out"),
                                    "before the end command went out"))};
        case UpgradeStep::Done:
            break;
    }
    return {};
}

QString clock(double seconds) {
    const long s = long(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// The progress lines of the devices at work at the same time, on a terminal: one block at the
// bottom, one line per device, redrawn in place. It is taken off before any other line is
// written and put back after, so results and errors scroll above it.
class ProgressBoard {
public:
    void set(int index, const QString& text) {
        for (auto& line : lines_) {
            if (line.first == index) {
                line.second = text;
                redraw();
                return;
            }
        }
        lines_.push_back({index, text});
        redraw();
    }
    void remove(int index) {
        hide();
        lines_.erase(std::remove_if(lines_.begin(), lines_.end(),
                                    [index](const auto& l) { return l.first == index; }),
                     lines_.end());
    }
    // Takes the block off the screen; the next set() puts it back.
    void hide() {
        if (shown_ > 0) {
            // Up to the block's first line, then clear to the end of the screen.
            sayText(QStringLiteral("\x1b[%1F\x1b[J").arg(shown_));
            shown_ = 0;
        }
    }
    void show() { redraw(); }

private:
    void redraw() {
        hide();
        QString text;
        for (const auto& line : lines_) {
            text += line.second + QLatin1Char('\n');
        }
        sayText(text);
        shown_ = int(lines_.size());
    }

    std::vector<std::pair<int, QString>> lines_;
    int shown_ = 0;
};

// One device's progress: a line redrawn in place on a terminal (or a line of the board when
// devices are at work at the same time), else a line per tenth.
class ProgressLine {
public:
    ProgressLine(const QString& address, bool terminal, ProgressBoard* board = nullptr,
                 int index = 0)
        : address_(address), terminal_(terminal), board_(board), index_(index) {}

    void update(const UpgradeProgress& p) {
        if (p.stage == UpgradeProgress::Stage::Ready) {
            started_.start();
            return;
        }
        if (!started_.isValid()) {
            return;
        }
        if (p.bytes_sent > 0) {
            estimate_.sample(seconds(), p.bytes_sent);
        }
        const bool last = p.stage == UpgradeProgress::Stage::Done;
        if (terminal_) {
            // Some ten redraws a second are plenty for the eye.
            if (!last && drawn_.isValid() && drawn_.elapsed() < 100) {
                return;
            }
            drawn_.start();
            if (board_ != nullptr) {
                board_->set(index_, describe(p));
                return;
            }
            const QString text = QStringLiteral("\r") + describe(p);
            sayText(text.leftJustified(width_));
            width_ = text.size();
        } else if (p.percent / 10 > tenths_ && p.percent > 0) {
            tenths_ = p.percent / 10;
            say(describe(p));
        }
    }

    // Ends a terminal line before anything else is written.
    void close() {
        if (board_ != nullptr) {
            board_->remove(index_);
            return;
        }
        if (terminal_ && width_ > 0) {
            sayText(QStringLiteral("\n"));
            width_ = 0;
        }
    }

    double seconds() const { return started_.isValid() ? started_.nsecsElapsed() / 1e9 : 0; }

private:
    // The rate and time left as the device takes the image; unknown until two pieces went out.
    QString describe(const UpgradeProgress& p) const {
        QString rate = QStringLiteral("-- MB/s");
        QString left = QStringLiteral("--:-- left");
        const double seconds_left = estimate_.seconds_left(p.image_bytes);
        if (seconds_left >= 0) {
            rate = QStringLiteral("%1 MB/s").arg(estimate_.rate() / 1e6, 0, 'f', 1);
            left = clock(seconds_left) + QStringLiteral(" left");
        }
        return QStringLiteral("%1: %2%  %3  %4").arg(address_).arg(p.percent, 3).arg(rate, left);
    }

    QString address_;
    bool terminal_;
    ProgressBoard* board_;
    int index_;
    QElapsedTimer started_;
    QElapsedTimer drawn_;
    maintenance::TransferEstimate estimate_;
    int width_ = 0;
    int tenths_ = 0;
};

int runUpgrade(Invocation& in) {
    const QStringList addresses = in.addresses();
    const QString given = in.value(QStringLiteral("image"));
    if (given.isEmpty()) {
        throw UsageError{QStringLiteral("--image FILE is needed")};
    }
    if (!QFileInfo(given).isFile()) {
        throw UsageError{QStringLiteral("--image: '%1' is not a file").arg(given)};
    }
    // The name rule reads the whole path, folders included, as the window's file dialog
    // gives it.
    const QString image = QFileInfo(given).absoluteFilePath();
    const std::optional<int> given_kind = in.choice(QStringLiteral("kind"), kKinds);
    maintenance::UpgradeWaits exchange;
    if (in.isSet(QStringLiteral("timeout"))) {
        exchange.connect_ms = exchange.exchange_ms = in.timeoutMs(1, 0);
    }
    const int parallel =
        in.integer(QStringLiteral("parallel"), 1, maintenance::kMostParallelUpgrades).value_or(1);
    const std::optional<WaitRequest> wait = waitRequest(in, true);
    // Checked also when no sweep runs, so that a wrong range is never passed over silently.
    const SweepPlan plan = sweepPlan(in);

    const std::vector<Device_Info> devices =
        given_kind && !wait ? std::vector<Device_Info>{} : sweep(plan);

    QVector<maintenance::UpgradeTarget> targets;
    for (const QString& address : addresses) {
        const Device_Info* device = findDevice(devices, address);
        // The type text, as the window's table gives it to the name rule.
        targets.append({address, given_kind ? kKinds[*given_kind].toUpper()
                                 : device   ? QString::fromStdString(kind_text(device->type))
                                            : QString()});
    }

    const bool terminal = !in.json() && standardOutputIsTerminal();
    // Devices at work at the same time share one block of lines on a terminal.
    ProgressBoard board;
    ProgressBoard* shared = terminal && parallel > 1 ? &board : nullptr;
    Report report(in.json());
    QStringList failed;
    // One line per device at work, by its place in the list.
    std::map<int, ProgressLine> progress;
    std::vector<WaitItem> waits;
    maintenance::UpgradeEvents events;
    // A device without a kind the image can be for is passed by, its failure told. Its entry
    // begins and ends at once, so entries of devices at work together never interleave.
    events.started = [&](int i) {
        const maintenance::UpgradeTarget& target = targets[i];
        const QString conflict = conflictProblem(devices, target.address);
        if (conflict.isEmpty() && !target.type.isEmpty() &&
            kKinds.contains(target.type.toLower())) {
            progress.emplace(i, ProgressLine(target.address, terminal, shared, i));
            return true;
        }
        if (shared != nullptr) {
            board.hide();
        }
        report.begin(target.address);
        if (!conflict.isEmpty()) {
            report.fail(QStringLiteral("conflict"), conflict);
        } else if (target.type.isEmpty()) {
            report.fail(QStringLiteral("sweep"),
                        QStringLiteral("did not answer the sweep, so its kind is unknown; "
                                       "give --kind to upgrade it without one"));
        } else {
            report.fail(QStringLiteral("kind"),
                        QStringLiteral("kind %1 is not a TX, RX or KVM_RX").arg(target.type));
        }
        report.end();
        failed << target.address;
        if (shared != nullptr) {
            board.show();
        }
        return false;
    };
    events.progress = [&](int i, const UpgradeProgress& p) {
        if (!in.json()) {
            progress.at(i).update(p);
        }
    };
    events.outcome = [&](int i, const maintenance::UpgradeOutcome& outcome) {
        ProgressLine& line = progress.at(i);
        line.close();
        neb::CJsonObject& entry = report.begin(targets[i].address);
        entry.PutString("kind", utf8(targets[i].type));
        entry.PutInt64("bytes", outcome.bytes_sent);
        if (outcome.step == UpgradeStep::Done) {
            waits.push_back({report.size(), watchedDevice(findDevice(devices, targets[i].address),
                                                          targets[i].address)});
            const double seconds = line.seconds();
            report.line(QStringLiteral("upgraded (%1 bytes in %2 s); restarting")
                            .arg(outcome.bytes_sent)
                            .arg(seconds, 0, 'f', seconds < 1 ? 2 : 1));
        } else {
            const auto [step, message] = failureOf(outcome, exchange, targets[i].type);
            report.fail(step, message);
        }
        if (!report.end()) {
            failed << targets[i].address;
        }
        progress.erase(i);
        if (shared != nullptr) {
            board.show();
        }
    };
    int taken = 0;
    {
        const InterruptStop interrupt;
        taken = maintenance::upgrade_devices_parallel(targets, image, events, parallel, exchange,
                                                      &interrupt.stopRequested());
    }
    board.hide();
    // Devices a Ctrl-C left: not upgraded, so the run does not count as a success.
    QStringList not_tried;
    for (int i = taken; i < targets.size(); ++i) {
        report.begin(targets[i].address);
        report.fail(QStringLiteral("stopped"),
                    QStringLiteral("not tried: the run was stopped by Ctrl-C"));
        report.end();
        not_tried << targets[i].address;
    }
    // A stopped run ends now: the operator asked to stop, not to wait for the restarts.
    if (wait && not_tried.isEmpty()) {
        // The summary counts a device as upgraded only when it also came back as expected.
        failed << waitForDevices(report, waits, *wait, plan);
    }
    if (!in.json()) {
        say(QStringLiteral("upgraded %1 of %2 %3")
                .arg(taken - failed.size())
                .arg(addresses.size())
                .arg(addresses.size() == 1 ? "device" : "devices") +
            (failed.isEmpty() ? QString() : QStringLiteral("; failed: ") + failed.join(", ")) +
            (not_tried.isEmpty()
                 ? QString()
                 : QStringLiteral("; stopped, not tried: ") + not_tried.join(", ")));
    }
    return report.finish();
}

}  // namespace

Command upgradeCommand() {
    static const QByteArray help =
        withSweepOptions(QString::fromUtf8(kHelp).arg(waitHelp(true)).toUtf8());
    return {"upgrade", "load a firmware image into devices, one after the other or N at a time",
            help.constData(),
            QList<QCommandLineOption>{valued("image"), valued("kind"), valued("timeout"),
                                      valued("parallel")} +
                sweepOptions() + waitOptions(true),
            runUpgrade};
}

}  // namespace corvane::cli
