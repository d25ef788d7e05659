#include "cli/command_line.h"

#include <cmath>

#include "cli/output.h"
#include "command/command_request.h"
#include "discovery/ipv4_address.h"

namespace corvane::cli {

namespace {

const char* const kMainHelp =
    R"(Usage: corvane-cli [--version] [--help] COMMAND [OPTIONS] [ADDR...]

Finds and configures the Corvane extenders on the local networks, for scripts: the work of
Corvane Tool's window without a window. A sweep (scan, backup, restore and diff, and net,
assign and upgrade when they need the devices' present values or kinds) broadcasts on every
local IPv4 network, as the window's search does, or with --range and --target sends the probe
by unicast to the addresses named (devices behind a router); commands go only to the dotted
IPv4 addresses given.

Commands:
%1
Every command takes --help, --json (one JSON document on standard output instead of lines)
and --verbose (the libraries' diagnostics on standard error). Exit status: 0 when every
device did what was asked, 1 when any did not (or the work was refused before it began), 2
for bad usage. Errors go to standard error as "corvane-cli: ADDRESS: STEP: what happened".
)";

// The options every command takes.
QList<QCommandLineOption> commonOptions() {
    return {
        QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}),
        QCommandLineOption(QStringLiteral("json")),
        QCommandLineOption(QStringLiteral("verbose")),
    };
}

QString mainHelp() {
    QString list;
    for (const Command& c : commands()) {
        list += QStringLiteral("  %1%2\n")
                    .arg(QString::fromLatin1(c.name), -11)
                    .arg(QString::fromUtf8(c.summary));
    }
    return QString::fromUtf8(kMainHelp).arg(list);
}

const Command* findCommand(const QString& name) {
    for (const Command& c : commands()) {
        if (name == QLatin1String(c.name)) {
            return &c;
        }
    }
    return nullptr;
}

const char* const kRequestTimeoutHelp =
    R"(  --timeout SECONDS       the longest one request to a device may take in all (default
                          10, at least 1.5). A device that stays silent is given up after
                          1.5 s of silence whatever this says; the bound ends a device that
                          keeps sending without finishing its reply.
)";

}  // namespace

const std::vector<Command>& commands() {
    static const std::vector<Command> all{scanCommand(),    rebootCommand(),  netCommand(),
                                          assignCommand(),  audioCommand(),   audioInCommand(),
                                          videoCommand(),   upgradeCommand(), backupCommand(),
                                          restoreCommand(), diffCommand()};
    return all;
}

Invocation::Invocation(const Command& command, const QStringList& arguments) {
    parser_.addOptions(commonOptions());
    parser_.addOptions(command.options);
    if (!parser_.parse(QStringList{QStringLiteral("corvane-cli")} + arguments)) {
        QString text = parser_.errorText();
        if (text.endsWith(QLatin1Char('.'))) {
            text.chop(1);
        }
        throw UsageError{text};
    }
}

QStringList Invocation::addresses(int most) const {
    QStringList given;
    for (const QString& text : parser_.positionalArguments()) {
        const std::optional<std::uint32_t> value = addressValue(text);
        if (!value) {
            throw UsageError{QStringLiteral("'%1' is not a dotted IPv4 address").arg(text)};
        }
        const QString address = addressText(*value);
        if (given.contains(address)) {
            throw UsageError{QStringLiteral("%1 is given twice").arg(address)};
        }
        given << address;
    }
    if (given.isEmpty()) {
        throw UsageError{QStringLiteral("no device address given")};
    }
    if (most >= 0 && given.size() > most) {
        throw UsageError{QStringLiteral("takes one device address, not %1").arg(given.size())};
    }
    return given;
}

std::optional<QString> Invocation::dotted(const QString& name) const {
    if (!isSet(name)) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> number = addressValue(value(name));
    if (!number) {
        throw UsageError{
            QStringLiteral("--%1: '%2' is not a dotted IPv4 address").arg(name, value(name))};
    }
    return addressText(*number);
}

std::optional<int> Invocation::integer(const QString& name, int low, int high) const {
    if (!isSet(name)) {
        return std::nullopt;
    }
    bool number = false;
    const int n = value(name).toInt(&number);
    if (!number || n < low || n > high) {
        throw UsageError{QStringLiteral("--%1 takes a whole number from %2 to %3, not '%4'")
                             .arg(name)
                             .arg(low)
                             .arg(high)
                             .arg(value(name))};
    }
    return n;
}

std::optional<int> Invocation::choice(const QString& name, const QStringList& names) const {
    if (!isSet(name)) {
        return std::nullopt;
    }
    const int at = names.indexOf(value(name).toLower());
    if (at < 0) {
        throw UsageError{QStringLiteral("--%1 takes %2, not '%3'")
                             .arg(name, names.join(QLatin1Char('|')), value(name))};
    }
    return at;
}

int Invocation::timeoutMs(int least_ms, int fallback_ms) const {
    if (!isSet(QStringLiteral("timeout"))) {
        return fallback_ms;
    }
    bool number = false;
    const double seconds = value(QStringLiteral("timeout")).toDouble(&number);
    // A day is more than any step of this work can need, and keeps the count within an int.
    if (!number || !std::isfinite(seconds) || seconds * 1000 < least_ms || seconds > 86400) {
        throw UsageError{QStringLiteral("--timeout takes seconds from %1 to 86400, not '%2'")
                             .arg(least_ms / 1000.0)
                             .arg(value(QStringLiteral("timeout")))};
    }
    return int(std::lround(seconds * 1000));
}

std::optional<std::uint32_t> addressValue(const QString& text) {
    return ipv4_value(text.toStdString());
}

QString addressText(std::uint32_t value) {
    return QString::fromStdString(ipv4_text(value));
}

QCommandLineOption valued(const char* name) {
    return QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
}

QCommandLineOption requestTimeoutOption() {
    return valued("timeout");
}

QByteArray withRequestTimeout(const char* help) {
    return QString::fromUtf8(help).arg(QString::fromUtf8(kRequestTimeoutHelp)).toUtf8();
}

void applyRequestTimeout(const Invocation& in) {
    // The silence rule of a request is 1.5 s; a bound below it would cut that rule short.
    set_request_time_limit(in.timeoutMs(1500, kDefaultRequestLimitMs));
}

int run(const QStringList& arguments) {
    const QString first = arguments.value(0);
    if (first.isEmpty()) {
        error(QStringLiteral("no command given; see 'corvane-cli help'"));
        return kExitUsage;
    }
    if (first == QLatin1String("--version")) {
        say(QStringLiteral("corvane-cli %1").arg(QStringLiteral(CORVANE_VERSION)));
        return kExitOk;
    }
    if (first == QLatin1String("help") || first == QLatin1String("--help") ||
        first == QLatin1String("-h")) {
        if (arguments.size() > 2) {
            error(QStringLiteral("help takes at most one command"));
            return kExitUsage;
        }
        if (arguments.size() == 1) {
            sayText(mainHelp());
            return kExitOk;
        }
        const Command* topic = findCommand(arguments[1]);
        if (topic == nullptr) {
            error(
                QStringLiteral("'%1' is not a command; see 'corvane-cli help'").arg(arguments[1]));
            return kExitUsage;
        }
        sayText(QString::fromUtf8(topic->help));
        return kExitOk;
    }
    const Command* command = findCommand(first);
    if (command == nullptr) {
        error(QStringLiteral("'%1' is not a command; see 'corvane-cli help'").arg(first));
        return kExitUsage;
    }
    try {
        Invocation in(*command, arguments.mid(1));
        if (in.isSet(QStringLiteral("help"))) {
            sayText(QString::fromUtf8(command->help));
            return kExitOk;
        }
        setVerbose(in.isSet(QStringLiteral("verbose")));
        return command->run(in);
    } catch (const UsageError& e) {
        error(QStringLiteral("%1: %2; see 'corvane-cli %1 --help'").arg(first, e.message));
        return kExitUsage;
    }
}

}  // namespace corvane::cli
