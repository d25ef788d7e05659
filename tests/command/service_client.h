// Small helpers for talking to the HTTP service in tests: one raw HTTP/1.1 exchange at a time,
// and a capture of the service's log on standard output.
#pragma once

#include <QByteArray>
#include <QTcpSocket>
#include <QTemporaryFile>

// Reads one HTTP reply (headers and a Content-Length body) from the socket; empty when none
// arrives within timeout_ms or the connection ends first.
QByteArray read_reply(QTcpSocket& socket, int timeout_ms = 5000);

// True when the peer closes the connection within timeout_ms (any bytes before are dropped).
bool wait_closed(QTcpSocket& socket, int timeout_ms);

// Connects to 127.0.0.1:port; false on failure.
bool connect_to(QTcpSocket& socket, quint16 port, int timeout_ms = 3000);

// A POST of body to "/" as a browser or curl would send it.
QByteArray post_request(const QByteArray& body, const QByteArray& extra_headers = {});

// Redirects the process's standard output into a temporary file while it lives.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    // What has been written so far.
    QByteArray text();
    // Waits (bounded) until the text contains needle.
    bool wait_for(const QByteArray& needle, int timeout_ms = 3000);

private:
    QTemporaryFile file_;
    int saved_fd_ = -1;
};
