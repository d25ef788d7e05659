// audio and audio-in: a device's audio setting shown, or changed and read back.
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

#include "cli/command_line.h"
#include "cli/output.h"
#include "protocol/config_commands.h"

namespace corvane::cli {

namespace {

namespace config = corvane::config;

const char* const kAudioHelp =
    R"(Usage: corvane-cli audio ADDR... [--display 1|2] [--output jack|hdmi]
                         [--timeout SECONDS] [--json]

A receiver's audio output: whether the audio of a video output channel plays on the 3.5 mm
jack or on HDMI. Without --output prints what the device holds for the channel. With
--output reads it, writes the choice and reads it back; a device that does not hold the
new value afterwards fails at the step read-back.

Options:
  --display 1|2           the video output channel (default 1)
  --output jack|hdmi      the audio output to set
%1  --json                  a JSON array, one object per device
  -h, --help              this text
)";

const char* const kAudioInHelp =
    R"(Usage: corvane-cli audio-in ADDR... [--input hdmi|jack] [--timeout SECONDS] [--json]

A transmitter's audio input: HDMI or the 3.5 mm jack. Without --input prints what the device
holds. With --input reads it, writes the choice and reads it back; a device that does not
hold the new value afterwards fails at the step read-back.

Options:
  --input hdmi|jack       the audio input to set
%1  --json                  a JSON array, one object per device
  -h, --help              this text
)";

const QStringList kOutputs{"jack", "hdmi"};  // "AoDevId" 1 and 2
const QStringList kInputs{"hdmi", "jack"};   // "AudioIn" 0 and 1

// What a read that found no value got: nothing, or something else.
QString readProblem(const std::string& reply, const char* what) {
    return reply.empty() ? QStringLiteral("no answer")
                         : QStringLiteral("the reply holds no %1").arg(QLatin1String(what));
}

// One enumerated setting: read it, and when `wanted` is given, write it and read it back.
// `read` gives the value (nothing when the reply has none) and the reply.
using SettingRead = std::function<std::pair<std::optional<int32_t>, std::string>()>;
using SettingWrite = std::function<config::WriteResult(int32_t)>;

void settle(Report& report, neb::CJsonObject& entry, const char* key, const QStringList& names,
            int32_t offset, const char* what, std::optional<int> wanted, const SettingRead& read,
            const SettingWrite& write, const QString& prefix = QString()) {
    auto [value, reply] = read();
    if (!value) {
        report.fail(QStringLiteral("read"), readProblem(reply, what));
        return;
    }
    if (wanted) {
        const int32_t target = *wanted + offset;
        const config::WriteResult written = write(target);
        if (!written.accepted) {
            report.fail(QStringLiteral("write"),
                        replyProblem(written.reply, config::kAudioAcceptLength));
            return;
        }
        std::tie(value, reply) = read();
        if (!value) {
            report.fail(QStringLiteral("read-back"), readProblem(reply, what));
            return;
        }
        if (*value != target) {
            report.fail(
                QStringLiteral("read-back"),
                QStringLiteral("%1 is %2, %3 was written")
                    .arg(QLatin1String(key), nameOf(names, *value, offset), names[*wanted]));
            return;
        }
    }
    const QString name = nameOf(names, *value, offset);
    entry.PutString(key, utf8(name));
    report.line(prefix + QStringLiteral("%1=%2").arg(QLatin1String(key), name));
}

int runAudio(Invocation& in) {
    const QStringList addresses = in.addresses();
    const int display = in.integer(QStringLiteral("display"), 1, 2).value_or(1);
    const std::optional<int> output = in.choice(QStringLiteral("output"), kOutputs);
    applyRequestTimeout(in);
    Report report(in.json());
    for (const QString& address : addresses) {
        const std::string ip = utf8(address);
        neb::CJsonObject& entry = report.begin(address);
        entry.PutInt32("display", display);
        auto read = [&]() -> std::pair<std::optional<int32_t>, std::string> {
            const config::RxAudio audio =
                config::readRxAudio(ip, config::rxAudioReadDocument(display));
            return {audio.usable ? std::optional<int32_t>(audio.ao_dev_id) : std::nullopt,
                    audio.reply};
        };
        auto write = [&](int32_t ao) { return config::writeRxAudio(ip, display, ao); };
        settle(report, entry, "output", kOutputs, 1, "audio output setting", output, read, write,
               QStringLiteral("display=%1 ").arg(display));
        report.end();
    }
    return report.finish();
}

int runAudioIn(Invocation& in) {
    const QStringList addresses = in.addresses();
    const std::optional<int> input = in.choice(QStringLiteral("input"), kInputs);
    applyRequestTimeout(in);
    Report report(in.json());
    for (const QString& address : addresses) {
        const std::string ip = utf8(address);
        neb::CJsonObject& entry = report.begin(address);
        auto read = [&]() -> std::pair<std::optional<int32_t>, std::string> {
            const config::TxAudio audio = config::readTxAudio(ip);
            const bool known = audio.audio_in == 0 || audio.audio_in == 1;
            return {known ? std::optional<int32_t>(audio.audio_in) : std::nullopt, audio.reply};
        };
        auto write = [&](int32_t audio_in) { return config::writeTxAudio(ip, audio_in); };
        settle(report, entry, "input", kInputs, 0, "audio input setting", input, read, write);
        report.end();
    }
    return report.finish();
}

}  // namespace

Command audioCommand() {
    static const QByteArray help = withRequestTimeout(kAudioHelp);
    return {"audio",
            "show or set a receiver's audio output",
            help.constData(),
            {valued("display"), valued("output"), requestTimeoutOption()},
            runAudio};
}

Command audioInCommand() {
    static const QByteArray help = withRequestTimeout(kAudioInHelp);
    return {"audio-in",
            "show or set a transmitter's audio input",
            help.constData(),
            {valued("input"), requestTimeoutOption()},
            runAudioIn};
}

}  // namespace corvane::cli
