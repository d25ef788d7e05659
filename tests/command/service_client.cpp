#include "service_client.h"

#include <unistd.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QThread>
#include <cstdio>

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

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    if (!file_.open())
        return;
    saved_fd_ = ::dup(STDOUT_FILENO);
    ::dup2(file_.handle(), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
    if (saved_fd_ < 0)
        return;
    std::fflush(stdout);
    ::dup2(saved_fd_, STDOUT_FILENO);
    ::close(saved_fd_);
}

QByteArray StdoutCapture::text() {
    std::fflush(stdout);
    QFile reader(file_.fileName());
    if (!reader.open(QIODevice::ReadOnly))
        return {};
    return reader.readAll();
}

bool StdoutCapture::wait_for(const QByteArray& needle, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    while (!text().contains(needle)) {
        if (timer.elapsed() > timeout_ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}
