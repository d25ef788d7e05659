// What the terminal front end prints: lines on standard output, errors on standard error, one
// JSON document with --json, and the outcome of each device of a command.
#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "json/json_document.h"

namespace corvane::cli {

// A line on standard output, written at once so that it keeps its place among the errors.
void say(const QString& line);
// Text that brings its own line ends.
void sayText(const QString& text);
// "corvane-cli: " and the line, on standard error.
void error(const QString& line);

// Whether the libraries' diagnostics (Qt debug and info messages) reach standard error.
void setVerbose(bool verbose);
// Routes Qt's messages: diagnostics only when verbose, warnings and worse always.
void installMessageFilter();

bool standardOutputIsTerminal();
// Standard output and error as byte streams: lines end in LF on every system. Windows writes
// CR LF in its text mode, which would also change the line breaks inside a quoted CSV field.
void useByteStreams();

// A device's text for a terminal: control characters (escape sequences above all) and the
// bidirectional controls U+202A-U+202E and U+2066-U+2069 show as '?'.
QString printable(const QString& text);
// A device's text as a CSV field: filtered as printable() does, "'" put in front of a text
// that starts with "=", "+", "-" or "@" (a spreadsheet would run it as a formula), quoted
// when it holds a comma or a quotation mark.
QString csvField(const QString& text);

std::string utf8(const QString& text);
// The name of a protocol value (names[value - offset]), or the number the device reported.
QString nameOf(const QStringList& names, std::int32_t value, std::int32_t offset = 0);
// Prints the objects as one JSON array.
void sayJsonArray(const std::vector<neb::CJsonObject>& items);

// How a write's reply failed: "no answer", "refused: " and the device's "Message", or the
// length it had.
QString replyProblem(const std::string& reply, std::size_t needed);

// The outcome of each device of a command. In text mode every device that did its work says
// one or more lines on standard output; in JSON mode each device is one object of the array
// printed at the end, with "address", its fields, "ok" and, when it failed, "step" and
// "error". A failure is written to standard error at once in both modes.
class Report {
public:
    explicit Report(bool json) : json_(json) {}

    // Starts the entry of one device; its fields for --json go into the returned object.
    neb::CJsonObject& begin(const QString& address);
    // A line about the current device, "ADDRESS: text" (text mode only).
    void line(const QString& text);
    // The current device failed at `step`.
    void fail(const QString& step, const QString& message);
    // Ends the current entry; true when the device did its work.
    bool end();

    // The number of entries ended so far; an entry's index is the count before its begin().
    std::size_t size() const { return entries_.size(); }
    // Takes up an ended entry again (a later stage of the same device, such as the wait after
    // its restart): line(), fail() and end() apply to it, and end() puts it back in its place.
    neb::CJsonObject& resume(std::size_t index);

    // Prints the JSON array (JSON mode) and returns the exit status.
    int finish();

private:
    bool json_;
    std::vector<neb::CJsonObject> entries_;
    neb::CJsonObject current_;
    QString address_;
    bool failed_ = false;
    bool any_failed_ = false;
    std::size_t resumed_ = npos;
    static constexpr std::size_t npos = std::size_t(-1);
};

}  // namespace corvane::cli
