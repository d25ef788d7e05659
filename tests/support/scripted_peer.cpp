#include "tests/support/scripted_peer.h"

#include <QList>

#include "discovery/socket_compat.h"

namespace sock = corvane::sock;

namespace {

#ifdef _WIN32
// Windows raises no SIGPIPE: a send to a closed peer just fails.
constexpr int kNoSignal = 0;
#else
constexpr int kNoSignal = MSG_NOSIGNAL;
#endif

sock::native_socket native(qintptr fd) {
    return static_cast<sock::native_socket>(fd);
}

// Waits until fd is readable or the stop flag is set; false on time-out or stop.
bool wait_readable(qintptr fd, const std::atomic<bool>& stop, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms && !stop; waited += 50) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(native(fd), &readable);
        timeval slice{0, 50 * 1000};
        const int r = ::select(static_cast<int>(fd) + 1, &readable, nullptr, nullptr, &slice);
        if (r > 0)
            return true;
        if (r < 0)
            return false;
    }
    return false;
}

}  // namespace

ScriptedPeer::ScriptedPeer(const char* ip, quint16 port, PeerScript script)
    : script_(std::move(script)) {
    sock::startup();
    const sock::native_socket fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd == sock::invalid_socket)
        return;
    sock::set_int_option(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &addr.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
        sock::closesocket(fd);
        return;
    }
    listen_fd_ = static_cast<qintptr>(fd);
    thread_ = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer() {
    stop_ = true;
    join();
    if (listen_fd_ >= 0)
        sock::closesocket(native(listen_fd_));
}

void ScriptedPeer::join() {
    if (thread_.joinable())
        thread_.join();
}

QByteArray ScriptedPeer::http_reply(int status, const QByteArray& body) {
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray ScriptedPeer::exchange(const char* ip, quint16 port, const QByteArray& body,
                                  const std::function<void()>& action) {
    PeerScript script;
    script.reply = http_reply(200, body);
    ScriptedPeer peer(ip, port, script);
    if (!peer.listening())
        qFatal("cannot listen on %s:%d", ip, port);
    action();
    peer.join();
    return peer.request();
}

bool ScriptedPeer::read_request(qintptr fd) {
    // Headers up to the empty line, then as many body bytes as Content-Length says.
    char chunk[65536];
    qsizetype expected = -1;
    while (expected < 0 || request_.size() < expected) {
        if (!wait_readable(fd, stop_, 10000))
            return false;
        const long n = ::recv(native(fd), chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        request_.append(chunk, static_cast<int>(n));
        const int end = request_.indexOf("\r\n\r\n");
        if (expected < 0 && end >= 0) {
            qsizetype length = 0;
            const QList<QByteArray> lines = request_.left(end).split('\n');
            for (const QByteArray& line : lines) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
            }
            expected = end + 4 + length;
        }
    }
    return true;
}

void ScriptedPeer::run() {
    if (!wait_readable(listen_fd_, stop_, 10000))
        return;
    const sock::native_socket accepted = ::accept(native(listen_fd_), nullptr, nullptr);
    if (accepted == sock::invalid_socket)
        return;
    const qintptr fd = static_cast<qintptr>(accepted);
    switch (script_.kind) {
        case PeerScript::Kind::CloseAtOnce:
            break;
        case PeerScript::Kind::Reply:
            if (read_request(fd)) {
                ::send(accepted, script_.reply.constData(), script_.reply.size(), kNoSignal);
                // Let the client close first, so the reply is never cut by a reset.
                if (wait_readable(fd, stop_, 5000)) {
                    char c;
                    client_closed_ = ::recv(accepted, &c, 1, 0) <= 0;
                }
            }
            break;
        case PeerScript::Kind::Pieces:
            if (read_request(fd)) {
                for (int at = 0; at < script_.reply.size() && !stop_; at += script_.piece_size) {
                    const QByteArray piece = script_.reply.mid(at, script_.piece_size);
                    if (::send(accepted, piece.constData(), piece.size(), kNoSignal) < 0)
                        break;
                    std::this_thread::sleep_for(script_.piece_delay);
                }
            }
            break;
        case PeerScript::Kind::Endless:
            if (read_request(fd) &&
                ::send(accepted, script_.reply.constData(), script_.reply.size(), kNoSignal) >= 0) {
                const QByteArray piece(script_.piece_size, 'e');
                while (!stop_ && ::send(accepted, piece.constData(), piece.size(), kNoSignal) >= 0)
                    std::this_thread::sleep_for(script_.piece_delay);
            }
            break;
        case PeerScript::Kind::Silent:
            if (read_request(fd) && wait_readable(fd, stop_, 10000)) {
                char c;
                client_closed_ = ::recv(accepted, &c, 1, 0) <= 0;
            }
            break;
    }
    sock::closesocket(accepted);
}
