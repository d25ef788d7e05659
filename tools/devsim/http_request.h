// Incremental reader of HTTP/1.x requests as they arrive on a connection (keep-alive:
// several requests may follow each other on one connection).
#pragma once

#include <QByteArray>
#include <QMap>

namespace devsim {

struct HttpRequest {
    QByteArray method;
    QByteArray path;
    QByteArray version;
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
    QByteArray raw;  // the exact bytes of head and body
    bool keepAlive = true;
};

class HttpRequestReader {
public:
    enum class State { NeedMore, Ready, Error };

    // Appends received bytes.
    void feed(const QByteArray& bytes) { buffer_.append(bytes); }

    // Takes the next complete request out of the buffer, if there is one.
    State next(HttpRequest* out);

    // Why the last call returned Error (also the status to answer with).
    int errorStatus() const { return errorStatus_; }
    const QByteArray& errorText() const { return errorText_; }

    // True once per request when its head asked "Expect: 100-continue" and the body has
    // not arrived yet: the connection then says "100 Continue" (as curl waits for it).
    bool takeContinue() {
        const bool due = continueDue_;
        continueDue_ = false;
        return due;
    }

    // Bytes received that do not (yet) make a whole request.
    const QByteArray& pending() const { return buffer_; }

    static constexpr int kMaxHead = 64 * 1024;
    static constexpr int kMaxBody = 16 * 1024 * 1024;

private:
    State fail(int status, const char* text);

    QByteArray buffer_;
    int errorStatus_ = 0;
    bool continueDue_ = false;
    bool continueSent_ = false;
    QByteArray errorText_;
};

}  // namespace devsim
