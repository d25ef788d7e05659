#include "tests/command/service_client.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <QElapsedTimer>
#include <QHostAddress>
#include <QThread>
#include <mutex>

#include "command/http_server.h"

namespace {

std::mutex captured_mutex;
QByteArray captured;

void capture_log(const char* text, std::size_t length) {
    const std::lock_guard<std::mutex> lock(captured_mutex);
    captured.append(text, static_cast<int>(length));
}

void close_native(qintptr socket) {
#ifdef _WIN32
    ::closesocket(static_cast<SOCKET>(socket));
#else
    ::close(static_cast<int>(socket));
#endif
}

// A TCP socket bound to address:port, or -1. `share` sets every option that lets a port be
// shared.
qintptr bound_socket(quint32 address, quint16 port, bool share) {
#ifdef _WIN32
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return -1;
#else
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return -1;
#endif
    if (share) {
        const int one = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
#ifdef SO_REUSEPORT
        ::setsockopt(s, SOL_SOCKET, SO_REUSEPORT, reinterpret_cast<const char*>(&one), sizeof one);
#endif
    }
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = htonl(address);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        close_native(static_cast<qintptr>(s));
        return -1;
    }
    return static_cast<qintptr>(s);
}

}  // namespace

QByteArray read_reply(QTcpSocket& socket, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    QByteArray data;
    int expected = -1;
    while (expected < 0 || data.size() < expected) {
        const int left = timeout_ms - static_cast<int>(timer.elapsed());
        if (left <= 0)
            return {};
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(left))
            return {};
        // Read only up to the end of this reply; a second one stays in the socket.
        const int want = expected < 0 ? 1 : expected - data.size();
        data += socket.read(want);
        if (expected < 0) {
            const int end = data.indexOf("\r\n\r\n");
            if (end < 0)
                continue;
            int length = 0;
            for (const QByteArray& line : data.left(end).split('\n')) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toInt();
            }
            expected = end + 4 + length;
        }
    }
    return data;
}

bool wait_closed(QTcpSocket& socket, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    while (socket.state() == QAbstractSocket::ConnectedState) {
        const int left = timeout_ms - static_cast<int>(timer.elapsed());
        if (left <= 0)
            return false;
        socket.waitForReadyRead(qMin(left, 100));
        socket.readAll();
    }
    return true;
}

bool connect_to(QTcpSocket& socket, quint16 port, int timeout_ms) {
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(timeout_ms);
}

QByteArray post_request(const QByteArray& body, const QByteArray& extra_headers) {
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra_headers +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

LogCapture::LogCapture() {
    {
        const std::lock_guard<std::mutex> lock(captured_mutex);
        captured.clear();
    }
    set_http_service_log_sink(capture_log);
}

LogCapture::~LogCapture() {
    set_http_service_log_sink(nullptr);
}

QByteArray LogCapture::text() const {
    const std::lock_guard<std::mutex> lock(captured_mutex);
    return captured;
}

bool LogCapture::wait_for(const QByteArray& needle, int timeout_ms) const {
    QElapsedTimer timer;
    timer.start();
    while (!text().contains(needle)) {
        if (timer.elapsed() > timeout_ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

SharingListener::SharingListener(quint16 port) {
    socket_ = bound_socket(INADDR_ANY, port, true);
#ifdef _WIN32
    listening_ = socket_ != -1 && ::listen(static_cast<SOCKET>(socket_), 4) == 0;
#else
    listening_ = socket_ != -1 && ::listen(static_cast<int>(socket_), 4) == 0;
#endif
}

SharingListener::~SharingListener() {
    if (socket_ != -1)
        close_native(socket_);
}

ClosedPort::ClosedPort(quint16 port) {
    socket_ = bound_socket(INADDR_ANY, port, false);
    bound_ = socket_ != -1;
}

ClosedPort::~ClosedPort() {
    if (socket_ != -1)
        close_native(socket_);
}
