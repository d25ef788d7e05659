// Small helpers for talking to the HTTP service in tests: one raw HTTP/1.1 exchange at a time,
// a capture of the service's log, and sockets that hold a port.
#pragma once

#include <QByteArray>
#include <QTcpSocket>

// Reads one HTTP reply (headers and a Content-Length body) from the socket; empty when none
// arrives within timeout_ms or the connection ends first.
QByteArray read_reply(QTcpSocket& socket, int timeout_ms = 5000);

// True when the peer closes the connection within timeout_ms (any bytes before are dropped).
bool wait_closed(QTcpSocket& socket, int timeout_ms);

// Connects to 127.0.0.1:port; false on failure.
bool connect_to(QTcpSocket& socket, quint16 port, int timeout_ms = 3000);

// A POST of body to "/" as a browser or curl would send it.
QByteArray post_request(const QByteArray& body, const QByteArray& extra_headers = {});

// Takes the service's log while it lives (through the service's own log seam, so the test's
// own output stays where it was). One at a time.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    // What has been logged so far.
    QByteArray text() const;
    // Waits (bounded) until the text contains needle.
    bool wait_for(const QByteArray& needle, int timeout_ms = 3000) const;
};

// A TCP socket bound to 0.0.0.0:port with every sharing option this system has
// (SO_REUSEADDR, and SO_REUSEPORT where it exists), listening. Whether it could bind shows
// whether whoever holds the port lets others share it.
class SharingListener {
public:
    explicit SharingListener(quint16 port);
    ~SharingListener();
    SharingListener(const SharingListener&) = delete;
    SharingListener& operator=(const SharingListener&) = delete;
    bool listening() const { return listening_; }

private:
    qintptr socket_ = -1;
    bool listening_ = false;
};

// A TCP socket bound to 0.0.0.0:port and never listening: while it lives, a connect to the
// port is refused, no other socket can listen there and the system never picks the port as
// a connection's own. False from bound() when the port could not be had.
class ClosedPort {
public:
    explicit ClosedPort(quint16 port);
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    bool bound() const { return bound_; }

private:
    qintptr socket_ = -1;
    bool bound_ = false;
};
