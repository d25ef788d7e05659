#include "cli/output.h"

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/command_line.h"
#include "protocol/reply_rule.h"

namespace corvane::cli {

namespace {

std::atomic<bool> verbose_messages{false};

void write(std::FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

void filter(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verbose_messages) {
        return;
    }
    write(stderr, QStringLiteral("corvane-cli: %1\n").arg(message).toUtf8());
}

}  // namespace

void say(const QString& line) {
    write(stdout, (line + QLatin1Char('\n')).toUtf8());
}

void sayText(const QString& text) {
    write(stdout, text.toUtf8());
}

void error(const QString& line) {
    write(stderr, (QStringLiteral("corvane-cli: ") + line + QLatin1Char('\n')).toUtf8());
}

void setVerbose(bool verbose) {
    verbose_messages = verbose;
}

void installMessageFilter() {
    qInstallMessageHandler(filter);
}

bool standardOutputIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

void useByteStreams() {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

QString printable(const QString& text) {
    QString shown = text;
    for (QChar& c : shown) {
        const char16_t u = c.unicode();
        // The bidirectional embeddings, overrides and isolates reorder what is shown around
        // them: a version could make an address or a MAC read as another.
        const bool bidi = (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
        if (c.category() == QChar::Other_Control || bidi) {
            c = QLatin1Char('?');
        }
    }
    return shown;
}

QString csvField(const QString& text) {
    QString field = printable(text);
    // A spreadsheet takes a field that starts with one of these for a formula and runs it.
    if (!field.isEmpty() && QStringLiteral("=+-@").contains(field.front())) {
        field.prepend(QLatin1Char('\''));
    }
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"'))) {
        return field;
    }
    field.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

QString nameOf(const QStringList& names, std::int32_t value, std::int32_t offset) {
    const std::int32_t at = value - offset;
    return at >= 0 && at < names.size() ? names[at] : QString::number(value);
}

void sayJsonArray(const std::vector<neb::CJsonObject>& items) {
    neb::CJsonObject array(std::string("[]"));
    for (const neb::CJsonObject& item : items) {
        array.AppendDocument(item);
    }
    say(QString::fromStdString(array.PrettyText()));
}

QString replyProblem(const std::string& reply, std::size_t needed) {
    if (reply.empty()) {
        return QStringLiteral("no answer");
    }
    if (protocol::reply_refuses(reply)) {
        const neb::CJsonObject document(reply);
        const QString message = printable(QString::fromStdString(document.ReadText("Message")));
        return message.isEmpty() ? QStringLiteral("refused")
                                 : QStringLiteral("refused: %1").arg(message);
    }
    return QStringLiteral("not accepted (a reply of %1 bytes; %2 or more confirm)")
        .arg(reply.size())
        .arg(needed);
}

neb::CJsonObject& Report::begin(const QString& address) {
    address_ = address;
    failed_ = false;
    current_ = neb::CJsonObject();
    current_.PutString("address", utf8(address));
    return current_;
}

void Report::line(const QString& text) {
    if (!json_) {
        say(address_ + QStringLiteral(": ") + text);
    }
}

void Report::fail(const QString& step, const QString& message) {
    error(QStringLiteral("%1: %2: %3").arg(address_, step, message));
    if (!failed_) {
        current_.PutString("step", utf8(step));
        current_.PutString("error", utf8(message));
    }
    failed_ = true;
    any_failed_ = true;
}

neb::CJsonObject& Report::resume(std::size_t index) {
    current_ = entries_.at(index);
    address_ = QString::fromStdString(current_.ReadText("address"));
    bool ok = false;
    failed_ = !(current_.ReadBool("ok", ok) && ok);
    current_.RemoveMember("ok");
    resumed_ = index;
    return current_;
}

bool Report::end() {
    current_.PutBool("ok", !failed_);
    if (resumed_ != npos) {
        entries_[resumed_] = current_;
        resumed_ = npos;
    } else {
        entries_.push_back(current_);
    }
    return !failed_;
}

int Report::finish() {
    if (json_) {
        sayJsonArray(entries_);
    }
    return any_failed_ ? kExitFailed : kExitOk;
}

}  // namespace corvane::cli
