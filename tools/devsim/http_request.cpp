#include "http_request.h"

#include <QList>

namespace devsim {

HttpRequestReader::State HttpRequestReader::fail(int status, const char* text) {
    errorStatus_ = status;
    errorText_ = text;
    return State::Error;
}

HttpRequestReader::State HttpRequestReader::next(HttpRequest* out) {
    // Blank lines before a request are allowed (RFC 7230, 3.5).
    while (buffer_.startsWith("\r\n"))
        buffer_.remove(0, 2);
    const int headEnd = buffer_.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (buffer_.size() > kMaxHead)
            return fail(431, "request head too large");
        return State::NeedMore;
    }
    if (headEnd > kMaxHead)
        return fail(431, "request head too large");

    const QList<QByteArray> lines = buffer_.left(headEnd).split('\n');
    const QList<QByteArray> start = lines.first().trimmed().split(' ');
    if (start.size() != 3 || !start.at(2).startsWith("HTTP/1."))
        return fail(400, "malformed request line");

    HttpRequest r;
    r.method = start.at(0);
    r.path = start.at(1);
    r.version = start.at(2);
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon <= 0)
            return fail(400, "malformed header line");
        r.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    if (r.headers.contains("transfer-encoding"))
        return fail(501, "chunked bodies are not accepted");

    qint64 length = 0;
    if (r.headers.contains("content-length")) {
        bool ok = false;
        length = r.headers.value("content-length").toLongLong(&ok);
        if (!ok || length < 0)
            return fail(400, "bad Content-Length");
        if (length > kMaxBody)
            return fail(413, "body too large");
    }
    const qint64 total = headEnd + 4 + length;
    if (buffer_.size() < total) {
        if (!continueSent_ && r.headers.value("expect").toLower() == "100-continue") {
            continueSent_ = true;
            continueDue_ = true;
        }
        return State::NeedMore;
    }
    continueSent_ = false;

    r.body = buffer_.mid(headEnd + 4, int(length));
    r.raw = buffer_.left(int(total));
    const QByteArray connection = r.headers.value("connection").toLower();
    r.keepAlive = r.version == "HTTP/1.0" ? connection == "keep-alive" : connection != "close";
    buffer_.remove(0, int(total));
    *out = r;
    return State::Ready;
}

}  // namespace devsim
