// The command request against scripted peers on loopback (127.0.0.2 to 127.0.0.49, port 80).
#include <QElapsedTimer>
#include <QtTest>
#include <thread>
#include <vector>

#include "command/command_request.h"
#include "tests/support/scripted_peer.h"

using Kind = PeerScript::Kind;
using namespace std::chrono_literals;

namespace {

PeerScript reply_script(const QByteArray& reply) {
    PeerScript s;
    s.kind = Kind::Reply;
    s.reply = reply;
    return s;
}

// A caller buffer with guard bytes around it, so any write outside its capacity shows.
struct GuardedBuffer {
    explicit GuardedBuffer(std::size_t capacity) : bytes(capacity + 2 * kGuard, '\x5a') {}
    char* data() { return bytes.data() + kGuard; }
    bool guards_intact(std::size_t capacity) const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (bytes[i] != '\x5a' || bytes[kGuard + capacity + i] != '\x5a')
                return false;
        }
        return true;
    }
    static constexpr std::size_t kGuard = 64;
    std::vector<char> bytes;
};

}  // namespace

class TestCommandRequest : public QObject {
    Q_OBJECT

private slots:
    void exactRequestBytes_data();
    void exactRequestBytes();
    void emptyBodyIsSentAsGet();
    void replyBodyOfAnyStatus_data();
    void replyBodyOfAnyStatus();
    void refusedReturnsAtOnce();
    void invalidAddressReturnsAtOnce_data();
    void invalidAddressReturnsAtOnce();
    void closeAtOnceGivesEmptyReply();
    void silentPeerGivesUpAfterThreeEmptyPolls();
    void repliesOverTime_data();
    void repliesOverTime();
    void nullReplyDestination();
    void twoCallsDoNotShareAReply();
    void concurrentCallsAreSerialised();
    void replyIsCutToCapacity_data();
    void replyIsCutToCapacity();
    void overLongReplyIsCutAtOneMebibyte_data();
    void overLongReplyIsCutAtOneMebibyte();
};

void TestCommandRequest::exactRequestBytes_data() {
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("ip");
    QTest::addColumn<quint16>("port");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("pretty command") << QByteArray("127.0.0.2") << QByteArray("127.0.0.2")
                                    << quint16(80) << QByteArray("{\n\t\"ProtocolCode\":\t1022\n}");
    QTest::newRow("utf-8 and quotes")
        << QByteArray("127.0.0.3") << QByteArray("127.0.0.3") << quint16(80)
        << QByteArray("{\"n\":\"\xe8\xa7\x86\xe9\xa2\x91 \\\"x\\\"\"}");
    QTest::newRow("5000 bytes") << QByteArray("127.0.0.4") << QByteArray("127.0.0.4") << quint16(80)
                                << QByteArray(5000, 'x');
    QTest::newRow("explicit port") << QByteArray("127.0.0.5:18080") << QByteArray("127.0.0.5")
                                   << quint16(18080) << QByteArray("{}");
}

void TestCommandRequest::exactRequestBytes() {
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, ip);
    QFETCH(quint16, port);
    QFETCH(QByteArray, body);

    ScriptedPeer peer(ip.constData(), port, reply_script(ScriptedPeer::http_reply(200, "ok")));
    QVERIFY(peer.listening());
    char reply[64] = {};
    QCOMPARE(send_http_cmd(address.constData(), body.constData(), reply, sizeof reply), 0);
    peer.join();

    const QByteArray expected = "POST / HTTP/1.1\r\nHost: " + address +
                                "\r\nContent-Length: " + QByteArray::number(body.size()) +
                                "\r\n\r\n" + body;
    QCOMPARE(peer.request(), expected);
    QCOMPARE(QByteArray(reply), QByteArray("ok"));
    QVERIFY(peer.client_closed());
}

void TestCommandRequest::emptyBodyIsSentAsGet() {
    ScriptedPeer peer("127.0.0.6", 80, reply_script(ScriptedPeer::http_reply(200, "{}")));
    QVERIFY(peer.listening());
    char reply[16] = {};
    send_http_cmd("127.0.0.6", "", reply, sizeof reply);
    peer.join();
    QCOMPARE(peer.request(), QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.6\r\n"
                                        "Content-Length: 0\r\n\r\n"));
    QCOMPARE(QByteArray(reply), QByteArray("{}"));
}

void TestCommandRequest::replyBodyOfAnyStatus_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("200") << ScriptedPeer::http_reply(200, "{\"Result\":0}")
                         << QByteArray("{\"Result\":0}");
    QTest::newRow("400 with body") << ScriptedPeer::http_reply(400, "{\"Error\":\"bad\"}")
                                   << QByteArray("{\"Error\":\"bad\"}");
    QTest::newRow("500") << ScriptedPeer::http_reply(500, "oops") << QByteArray("oops");
    QTest::newRow("no body") << ScriptedPeer::http_reply(200, "") << QByteArray();
    QTest::newRow("chunked") << QByteArray(
                                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                    "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n")
                             << QByteArray("abcde");
    QTest::newRow("ended by close")
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil the end")
        << QByteArray("until the end");
    QTest::newRow("cut short") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort")
                               << QByteArray();
    QTest::newRow("not http") << QByteArray("garbage\r\n\r\n") << QByteArray();
    QTest::newRow("bare LF") << QByteArray("HTTP/1.1 200 OK\nContent-Length: 5\n\nhello")
                             << QByteArray("hello");
    QTest::newRow("mixed line ends")
        << QByteArray(
               "HTTP/1.1 200 OK\r\nContent-Type: application/json\nContent-Length: 2\r\n\n{}")
        << QByteArray("{}");
    QTest::newRow("bare LF ended by close")
        << QByteArray("HTTP/1.1 200 OK\nConnection: close\n\nuntil the end\n")
        << QByteArray("until the end\n");
    QTest::newRow("100 Continue first")
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\n") + ScriptedPeer::http_reply(200, "{}")
        << QByteArray("{}");
    QTest::newRow("two interim replies, bare LF")
        << QByteArray(
               "HTTP/1.1 100 Continue\n\nHTTP/1.1 102 Processing\r\n\r\n"
               "HTTP/1.1 400 Bad\nContent-Length: 3\n\nabc")
        << QByteArray("abc");
    QTest::newRow("interim reply only")
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\n") << QByteArray();
    QTest::newRow("interim replies beyond 64 KiB")
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\n").repeated(3000) +
               ScriptedPeer::http_reply(200, "{}")
        << QByteArray();
    QTest::newRow("bare-LF headers beyond 64 KiB")
        << QByteArray("HTTP/1.1 200 OK\nX-Big: " + QByteArray(70000, 'h') +
                      "\nContent-Length: 2\n\n{}")
        << QByteArray();
    QTest::newRow("headers beyond 64 KiB")
        << QByteArray("HTTP/1.1 200 OK\r\nX-Big: " + QByteArray(70000, 'h') +
                      "\r\nContent-Length: 2\r\n\r\n{}")
        << QByteArray();
}

void TestCommandRequest::replyBodyOfAnyStatus() {
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, body);

    PeerScript script = reply_script(reply);
    if (!reply.contains("Content-Length") && !reply.contains("chunked")) {
        // A reply delimited by the end of the connection: the peer closes after sending.
        script.kind = Kind::Pieces;
        script.piece_size = reply.size();
    }
    if (reply.contains("Content-Length: 50")) {
        script.kind = Kind::Pieces;
        script.piece_size = reply.size();
    }
    ScriptedPeer peer("127.0.0.7", 80, script);
    QVERIFY(peer.listening());
    char buffer[128];
    memset(buffer, 0, sizeof buffer);
    QElapsedTimer timer;
    timer.start();
    send_http_cmd("127.0.0.7", "{\"ProtocolCode\":1034}", buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer), body);
    QVERIFY2(timer.elapsed() < 1000, "a finished reply or a close ends the call at once");
}

void TestCommandRequest::refusedReturnsAtOnce() {
    GuardedBuffer buffer(32);
    memset(buffer.data(), 'q', 32);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(send_http_cmd("127.0.0.8", "{\"ProtocolCode\":1002}", buffer.data(), 32), 0);
    QVERIFY2(timer.elapsed() < 400, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(buffer.data()[0], '\0');
    QVERIFY(buffer.guards_intact(32));
}

void TestCommandRequest::invalidAddressReturnsAtOnce_data() {
    QTest::addColumn<QByteArray>("address");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("name") << QByteArray("device.example");
    QTest::newRow("bad port") << QByteArray("127.0.0.8:99999");
    QTest::newRow("port zero") << QByteArray("127.0.0.8:0");
    QTest::newRow("octet too large") << QByteArray("127.0.0.256");
}

void TestCommandRequest::invalidAddressReturnsAtOnce() {
    QFETCH(QByteArray, address);
    char reply[8] = "xxxxxxx";
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(send_http_cmd(address.constData(), "{}", reply, sizeof reply), 0);
    QVERIFY(timer.elapsed() < 400);
    QCOMPARE(reply[0], '\0');
}

void TestCommandRequest::closeAtOnceGivesEmptyReply() {
    PeerScript script;
    script.kind = Kind::CloseAtOnce;
    ScriptedPeer peer("127.0.0.9", 80, script);
    QVERIFY(peer.listening());
    char reply[16] = "unchanged";
    QElapsedTimer timer;
    timer.start();
    send_http_cmd("127.0.0.9", "{\"ProtocolCode\":1034}", reply, sizeof reply);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(reply[0], '\0');
}

void TestCommandRequest::silentPeerGivesUpAfterThreeEmptyPolls() {
    PeerScript script;
    script.kind = Kind::Silent;
    ScriptedPeer peer("127.0.0.10", 80, script);
    QVERIFY(peer.listening());
    char reply[16] = {};
    QElapsedTimer timer;
    timer.start();
    send_http_cmd("127.0.0.10", "{\"ProtocolCode\":1022}", reply, sizeof reply);
    const qint64 elapsed = timer.elapsed();
    peer.join();
    QVERIFY2(elapsed >= 1400 && elapsed < 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(reply[0], '\0');
    QVERIFY2(peer.client_closed(), "the connection is dropped when the call gives up");
}

void TestCommandRequest::repliesOverTime_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("piece_size");
    QTest::addColumn<int>("piece_delay_ms");
    QTest::addColumn<QByteArray>("body");  // what the caller gets
    QTest::addColumn<int>("least_ms");
    QTest::addColumn<int>("most_ms");
    const QByteArray slow = ScriptedPeer::http_reply(200, QByteArray(100, 'p'));
    const QByteArray gaps = ScriptedPeer::http_reply(200, QByteArray(40, 'g'));
    // About 3.5 s in all, far beyond three polls, but no poll is ever empty.
    QTest::newRow("8-byte pieces every 150 ms awaited")
        << int(Kind::Pieces) << slow << 8 << 150 << QByteArray(100, 'p') << 2500 << 9000;
    // Every gap holds one empty poll, and the third ends the call although data kept coming.
    QTest::newRow("pieces 800 ms apart given up")
        << int(Kind::Pieces) << gaps << int(gaps.size() / 6 + 1) << 800 << QByteArray() << 1400
        << 3500;
    // Nothing here sets a bound, as the window sets none: the default of 10 s ends these
    // like calls that got no reply. The first would take some 40 s, the second for ever.
    QTest::newRow("a byte every 0.4 s cut at 10 s")
        << int(Kind::Pieces) << ScriptedPeer::http_reply(200, QByteArray(60, 'd')) << 1 << 400
        << QByteArray() << 9000 << 20000;
    QTest::newRow("endless body cut at 10 s")
        << int(Kind::Endless)
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\n") << 4096 << 1
        << QByteArray() << 9000 << 20000;
}

void TestCommandRequest::repliesOverTime() {
    QFETCH(int, kind);
    QFETCH(QByteArray, reply);
    QFETCH(int, piece_size);
    QFETCH(int, piece_delay_ms);
    QFETCH(QByteArray, body);
    QFETCH(int, least_ms);
    QFETCH(int, most_ms);
    PeerScript script;
    script.kind = Kind(kind);
    script.reply = reply;
    script.piece_size = piece_size;
    script.piece_delay = std::chrono::milliseconds(piece_delay_ms);
    ScriptedPeer peer("127.0.0.11", 80, script);
    QVERIFY(peer.listening());
    char buffer[256] = {};
    QElapsedTimer timer;
    timer.start();
    send_http_cmd("127.0.0.11", "{\"ProtocolCode\":1022}", buffer, sizeof buffer);
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(QByteArray(buffer), body);
    QVERIFY2(elapsed >= least_ms && elapsed < most_ms, qPrintable(QString::number(elapsed)));
}

void TestCommandRequest::nullReplyDestination() {
    {
        ScriptedPeer peer("127.0.0.13", 80, reply_script(ScriptedPeer::http_reply(200, "done")));
        QVERIFY(peer.listening());
        QCOMPARE(send_http_cmd("127.0.0.13", "{\"ProtocolCode\":1002}", nullptr, 0), 0);
        peer.join();
        QVERIFY(peer.request().startsWith("POST / HTTP/1.1\r\n"));
        QVERIFY(peer.request().endsWith("{\"ProtocolCode\":1002}"));
        QVERIFY(peer.client_closed());
    }
    // The same with a capacity given but no destination.
    ScriptedPeer peer("127.0.0.19", 80, reply_script(ScriptedPeer::http_reply(200, "done")));
    QVERIFY(peer.listening());
    QCOMPARE(send_http_cmd("127.0.0.19", "{}", nullptr, 4096), 0);
    peer.join();
    QVERIFY(peer.client_closed());
}

void TestCommandRequest::twoCallsDoNotShareAReply() {
    char reply[512];
    {
        ScriptedPeer peer("127.0.0.14", 80,
                          reply_script(ScriptedPeer::http_reply(200, QByteArray(300, 'A'))));
        QVERIFY(peer.listening());
        memset(reply, 0, sizeof reply);
        send_http_cmd("127.0.0.14", "{}", reply, sizeof reply);
        QCOMPARE(QByteArray(reply), QByteArray(300, 'A'));
    }
    {
        // The second device answers with an empty body: nothing of the first reply shows.
        ScriptedPeer peer("127.0.0.15", 80, reply_script(ScriptedPeer::http_reply(200, "")));
        QVERIFY(peer.listening());
        memset(reply, 0, sizeof reply);
        send_http_cmd("127.0.0.15", "{}", reply, sizeof reply);
        QCOMPARE(QByteArray(reply), QByteArray());
        // An unreachable one neither.
        send_http_cmd("127.0.0.16", "{}", reply, sizeof reply);
        QCOMPARE(QByteArray(reply), QByteArray());
    }
}

void TestCommandRequest::concurrentCallsAreSerialised() {
    // A second caller waits for the first (a silent device, about 1.5 s) and then gets its own
    // reply, untouched by the first exchange.
    PeerScript silent;
    silent.kind = Kind::Silent;
    ScriptedPeer slow_peer("127.0.0.20", 80, silent);
    ScriptedPeer quick_peer("127.0.0.21", 80,
                            reply_script(ScriptedPeer::http_reply(200, "quick answer")));
    QVERIFY(slow_peer.listening());
    QVERIFY(quick_peer.listening());
    char slow_reply[64] = {};
    std::thread first([&] { send_http_cmd("127.0.0.20", "{}", slow_reply, sizeof slow_reply); });
    QThread::msleep(200);  // the first call holds the lock by now
    char quick_reply[64] = {};
    QElapsedTimer timer;
    timer.start();
    send_http_cmd("127.0.0.21", "{}", quick_reply, sizeof quick_reply);
    const qint64 waited = timer.elapsed();
    first.join();
    QVERIFY2(waited >= 1000, qPrintable(QString::number(waited)));
    QCOMPARE(QByteArray(quick_reply), QByteArray("quick answer"));
    QCOMPARE(slow_reply[0], '\0');
}

void TestCommandRequest::replyIsCutToCapacity_data() {
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("body_size");
    QTest::newRow("fits") << 64 << 63;
    QTest::newRow("one too many") << 64 << 64;
    QTest::newRow("much longer") << 16 << 4000;
    QTest::newRow("capacity 1") << 1 << 10;
}

void TestCommandRequest::replyIsCutToCapacity() {
    QFETCH(int, capacity);
    QFETCH(int, body_size);
    QByteArray body(body_size, 'c');
    for (int i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 26);
    ScriptedPeer peer("127.0.0.17", 80, reply_script(ScriptedPeer::http_reply(200, body)));
    QVERIFY(peer.listening());
    GuardedBuffer buffer(capacity);
    send_http_cmd("127.0.0.17", "{}", buffer.data(), capacity);
    const int kept = qMin(body_size, capacity - 1);
    QCOMPARE(QByteArray(buffer.data(), kept), body.left(kept));
    QCOMPARE(buffer.data()[kept], '\0');
    QVERIFY(buffer.guards_intact(capacity));
}

void TestCommandRequest::overLongReplyIsCutAtOneMebibyte_data() {
    QTest::addColumn<bool>("chunked");
    QTest::newRow("content-length") << false;
    QTest::newRow("chunked") << true;
}

void TestCommandRequest::overLongReplyIsCutAtOneMebibyte() {
    QFETCH(bool, chunked);
    const int mib = 1048576;
    QByteArray body(mib + mib / 2, 'z');
    for (int i = 0; i < body.size(); i += 4096)
        body[i] = static_cast<char>('0' + (i / 4096) % 10);
    QByteArray reply;
    if (chunked) {
        reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        for (int at = 0; at < body.size(); at += 100000) {
            const QByteArray part = body.mid(at, 100000);
            reply += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
        }
        reply += "0\r\n\r\n";
    } else {
        reply = ScriptedPeer::http_reply(200, body);
    }
    ScriptedPeer peer("127.0.0.18", 80, reply_script(reply));
    QVERIFY(peer.listening());
    const std::size_t capacity = 2 * mib;
    GuardedBuffer buffer(capacity);
    send_http_cmd("127.0.0.18", "{}", buffer.data(), capacity);
    QCOMPARE(QByteArray(buffer.data(), mib), body.left(mib));
    QCOMPARE(buffer.data()[mib], '\0');
    QCOMPARE(buffer.data()[mib + 1], '\x5a');
    QVERIFY(buffer.guards_intact(capacity));
}

QTEST_GUILESS_MAIN(TestCommandRequest)
#include "test_command_request.moc"
