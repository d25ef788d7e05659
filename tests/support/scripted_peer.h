// A scripted HTTP peer for the command request tests: listens on one address, takes one
// connection, records the request bytes and answers as its script says.
#pragma once

#include <QByteArray>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

struct PeerScript {
    enum class Kind {
        Reply,        // send `reply` at once
        Pieces,       // send `reply` in pieces of `piece_size` bytes, `piece_delay` apart
        Endless,      // send `reply`, then `piece_size` more bytes every `piece_delay` until
                      // the client closes
        Silent,       // read the request, never answer, wait for the client to close
        CloseAtOnce,  // accept, then close without reading
    };
    Kind kind = Kind::Reply;
    QByteArray reply;
    int piece_size = 0;
    std::chrono::milliseconds piece_delay{0};
};

class ScriptedPeer {
public:
    ScriptedPeer(const char* ip, quint16 port, PeerScript script);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    bool listening() const { return listen_fd_ >= 0; }
    // Waits for the script to finish (bounded), then reports.
    void join();
    QByteArray request() const { return request_; }
    bool client_closed() const { return client_closed_; }

    // A ready-made reply: status line, Content-Length and the body.
    static QByteArray http_reply(int status, const QByteArray& body);
    // Runs `action` while a peer on ip:port answers one request with a 200 reply of `body`;
    // returns the request (empty when none came). A port that cannot be had ends the test run.
    static QByteArray exchange(const char* ip, quint16 port, const QByteArray& body,
                               const std::function<void()>& action);

private:
    void run();
    bool read_request(qintptr fd);

    qintptr listen_fd_ = -1;  // a SOCKET on Windows, a descriptor elsewhere
    PeerScript script_;
    QByteArray request_;
    bool client_closed_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
