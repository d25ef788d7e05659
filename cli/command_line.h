// The terminal front end's command line: the table of commands, one command's parsed options,
// and the checks every command applies to its arguments before anything is sent.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace corvane::cli {

constexpr int kExitOk = 0;      // every device did what was asked
constexpr int kExitFailed = 1;  // at least one did not, or the work was refused
constexpr int kExitUsage = 2;   // the command line cannot be carried out as written

// The command line asks for something that cannot be done as written; nothing has been sent
// when it is thrown.
struct UsageError {
    QString message;
};

class Invocation;

struct Command {
    const char* name;
    const char* summary;  // one line of `corvane-cli help`
    const char* help;     // the whole text of `corvane-cli NAME --help`
    QList<QCommandLineOption> options;
    int (*run)(Invocation&);
};

// The commands, in the order `corvane-cli help` lists them.
const std::vector<Command>& commands();

// One command's parsed line. Every accessor that checks a value throws UsageError.
class Invocation {
public:
    Invocation(const Command& command, const QStringList& arguments);

    bool isSet(const QString& name) const { return parser_.isSet(name); }
    QString value(const QString& name) const { return parser_.value(name); }
    QStringList values(const QString& name) const { return parser_.values(name); }
    bool json() const { return parser_.isSet(QStringLiteral("json")); }
    QStringList positional() const { return parser_.positionalArguments(); }

    // The positional arguments as device addresses: dotted IPv4, written canonically, none
    // twice, at least one and at most `most` (-1: any number).
    QStringList addresses(int most = -1) const;
    // A dotted IPv4 option in its canonical form.
    std::optional<QString> dotted(const QString& name) const;
    // A whole-number option from `low` to `high`.
    std::optional<int> integer(const QString& name, int low, int high) const;
    // The position of the option's value among `names` (letter case ignored).
    std::optional<int> choice(const QString& name, const QStringList& names) const;
    // --timeout in milliseconds: `fallback_ms` when not given; refused below `least_ms`.
    int timeoutMs(int least_ms, int fallback_ms) const;

private:
    QCommandLineParser parser_;
};

// The value of a dotted IPv4 address, its parts decimal also with leading zeros
// ("198.051.100.010" is 198.51.100.10); nothing for any other text.
std::optional<std::uint32_t> addressValue(const QString& text);
// The canonical text of an address value, as every output and every request carries it.
QString addressText(std::uint32_t value);

// The whole program, given its arguments without the program name; returns the exit status.
int run(const QStringList& arguments);

// The commands, each defined beside its work.
Command scanCommand();
Command rebootCommand();
Command netCommand();
Command assignCommand();
Command audioCommand();
Command audioInCommand();
Command videoCommand();
Command upgradeCommand();
Command backupCommand();
Command restoreCommand();
Command diffCommand();

// An option that takes a value.
QCommandLineOption valued(const char* name);

// --timeout of the commands that send HTTP requests: each request as a whole, at least the
// 1.5 s a silent device is waited for.
QCommandLineOption requestTimeoutOption();
// Applies it to every request of the process.
void applyRequestTimeout(const Invocation& in);
// A help text with the paragraph on that --timeout put in at its %1.
QByteArray withRequestTimeout(const char* help);

}  // namespace corvane::cli
