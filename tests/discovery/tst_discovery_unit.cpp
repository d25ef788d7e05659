// Parts of the sweep that need no broadcast: the probe text, the address-entry filter and the
// socket helpers, the latter on loopback sockets only.
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkAddressEntry>
#include <QStringList>
#include <QtTest>
#include <cstring>
#include <future>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "discovery/discovery_transport.h"

namespace sock = corvane::sock;

namespace {

// A UDP socket bound to 127.0.0.1 on a system-chosen port.
sock::native_socket loopback_socket(sockaddr_in* bound) {
    sock::native_socket s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (s == sock::invalid_socket ||
        ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        return sock::invalid_socket;
    }
    sock::address_length length = sizeof(*bound);
    ::getsockname(s, reinterpret_cast<sockaddr*>(bound), &length);
    return s;
}

bool send_to(sock::native_socket from, const sockaddr_in& to, const std::string& bytes) {
    return ::sendto(from, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof(to)) == static_cast<long>(bytes.size());
}

}  // namespace

std::mutex debug_mutex;
QStringList debug_lines;
bool logged_under_result_mutex = false;

// Outside a sweep the result document takes nothing, and says so on every reply: the debug
// lines are kept here instead of printed, with a note when one was written while the result
// document's lock was held (tried from another thread, the only well-defined way to ask).
void record_debug(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtDebugMsg) {
        qt_message_output(type, context, message);
        return;
    }
    const bool result_lock_free = std::async(std::launch::async, [] {
                                      if (!result_mutex.try_lock()) {
                                          return false;
                                      }
                                      result_mutex.unlock();
                                      return true;
                                  }).get();
    std::lock_guard<std::mutex> lock(debug_mutex);
    debug_lines << message;
    logged_under_result_mutex = logged_under_result_mutex || !result_lock_free;
}

QStringList take_debug_lines() {
    std::lock_guard<std::mutex> lock(debug_mutex);
    QStringList lines;
    lines.swap(debug_lines);
    return lines;
}

enum class Failure { BadAlloc, StdException, Other };
Failure planned_failure = Failure::BadAlloc;

// Makes the handling of every reply that carries "fail" throw.
void fail_marked_replies(const char* data, std::size_t length) {
    if (std::string_view(data, length).find("fail") == std::string_view::npos) {
        return;
    }
    switch (planned_failure) {
        case Failure::BadAlloc:
            throw std::bad_alloc();
        case Failure::StdException:
            throw std::runtime_error("broken reply");
        case Failure::Other:
            throw 7;
    }
}

class DiscoveryUnit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qInstallMessageHandler(record_debug);
        QVERIFY(sock::startup());
    }
    void cleanupTestCase() { qInstallMessageHandler(nullptr); }

    void probe_is_48_bytes_without_nul() {
        QCOMPARE(discovery_probe_length, std::size_t(48));
        QCOMPARE(std::strlen(discovery_probe), std::size_t(48));
        QCOMPARE(QByteArray(discovery_probe),
                 QByteArray("{0x3c, 0x51, 0xe2, 0x07, 0x9a, 0x4d, 0xf6, 0x2b}"));
    }

    void entry_filter_data() {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("broadcast");
        QTest::addColumn<bool>("probed");
        QTest::newRow("ipv4 with broadcast") << "198.51.100.1"
                                             << "198.51.100.255" << true;
        QTest::newRow("second network") << "203.0.113.1"
                                        << "203.0.113.255" << true;
        QTest::newRow("no broadcast (point-to-point)") << "198.51.100.1"
                                                       << "" << false;
        QTest::newRow("loopback 127.0.0.1") << "127.0.0.1"
                                            << "127.255.255.255" << false;
        QTest::newRow("loopback without broadcast") << "127.0.0.1"
                                                    << "" << false;
        // Only 127.0.0.1 itself is left out; other loopback addresses are probed like any.
        QTest::newRow("other loopback address") << "127.0.0.2"
                                                << "127.255.255.255" << true;
        QTest::newRow("ipv6 link-local") << "fe80::1"
                                         << "" << false;
        QTest::newRow("ipv6 with a broadcast set") << "2001:db8::1"
                                                   << "198.51.100.255" << false;
        QTest::newRow("ipv6 loopback") << "::1"
                                       << "" << false;
        QTest::newRow("ipv4-mapped ipv6") << "::ffff:198.51.100.7"
                                          << "198.51.100.255" << false;
    }

    void entry_filter() {
        QFETCH(QString, ip);
        QFETCH(QString, broadcast);
        QFETCH(bool, probed);
        QNetworkAddressEntry entry;
        entry.setIp(QHostAddress(ip));
        if (!broadcast.isEmpty()) {
            entry.setBroadcast(QHostAddress(broadcast));
        }
        QCOMPARE(is_probe_entry(entry), probed);
    }

    void oversize_datagram_is_lost_whole() {
        sockaddr_in a{}, b{};
        sock::native_socket rx = loopback_socket(&a);
        sock::native_socket tx = loopback_socket(&b);
        QVERIFY(rx != sock::invalid_socket && tx != sock::invalid_socket);
        // A valid object padded past 1400 bytes: cut at 1400 it would still read as JSON.
        std::string big = "{\"a\":1}" + std::string(1500, ' ');
        QVERIFY(send_to(tx, a, big));
        QVERIFY(send_to(tx, a, std::string(1400, 'x')));
        QVERIFY(send_to(tx, a, "{}"));
        char buffer[discovery_datagram_capacity];
        sockaddr_in sender{};
        QCOMPARE(sock::wait_readable(rx, 1), 1);
        QCOMPARE(sock::receive_datagram(rx, buffer, sizeof(buffer), &sender), -1L);
        QCOMPARE(sock::receive_datagram(rx, buffer, sizeof(buffer), &sender), 1400L);
        QCOMPARE(sock::receive_datagram(rx, buffer, sizeof(buffer), &sender), 2L);
        QCOMPARE(std::string(buffer, 2), std::string("{}"));
        QCOMPARE(sender.sin_port, b.sin_port);
        sock::closesocket(rx);
        sock::closesocket(tx);
    }

    void wait_readable_times_out() {
        sockaddr_in a{};
        sock::native_socket rx = loopback_socket(&a);
        QVERIFY(rx != sock::invalid_socket);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(sock::wait_readable(rx, 1), 0);
        QVERIFY2(timer.elapsed() >= 900, qPrintable(QString::number(timer.elapsed())));
        sock::closesocket(rx);
    }

    void receive_timeout_bounds_a_blocking_read() {
        sockaddr_in a{};
        sock::native_socket rx = loopback_socket(&a);
        QVERIFY(rx != sock::invalid_socket);
        QCOMPARE(sock::set_receive_timeout(rx, 1), 0);
        char buffer[16];
        sockaddr_in sender{};
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(sock::receive_datagram(rx, buffer, sizeof(buffer), &sender), -1L);
        QVERIFY(timer.elapsed() >= 900);
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        sock::closesocket(rx);
    }

    void duplicate_outlives_the_original() {
        sockaddr_in a{}, b{};
        sock::native_socket rx = loopback_socket(&a);
        sock::native_socket tx = loopback_socket(&b);
        sock::native_socket copy = sock::duplicate(rx);
        QVERIFY(copy != sock::invalid_socket);
        QVERIFY(copy != rx);
        QCOMPARE(sock::closesocket(rx), 0);
        QVERIFY(send_to(tx, a, "{}"));
        char buffer[16];
        sockaddr_in sender{};
        QCOMPARE(sock::wait_readable(copy, 1), 1);
        QCOMPARE(sock::receive_datagram(copy, buffer, sizeof(buffer), &sender), 2L);
        QCOMPARE(sock::closesocket(copy), 0);
        sock::closesocket(tx);
    }

    void non_blocking_read_of_empty_queue_fails_at_once() {
        sockaddr_in a{};
        sock::native_socket rx = loopback_socket(&a);
        unsigned long ul = 1;
        QCOMPARE(sock::ioctlsocket(rx, FIONBIO, &ul), 0);
        char buffer[16];
        sockaddr_in sender{};
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(sock::receive_datagram(rx, buffer, sizeof(buffer), &sender), -1L);
        QVERIFY(timer.elapsed() < 500);
        sock::closesocket(rx);
    }

    // receive_replies on a loopback socket (no sweep, nothing broadcast), in a thread of its
    // own as in a sweep: what it records as seen and what it logs. The handling of a reply
    // marked "fail" throws: that reply is dropped with a log line and the thread reads on (an
    // exception leaving the thread would end the process). No line is logged while the result
    // document's lock is held; outside a sweep a reply logs that the result had no room.
    void receive_thread_data() {
        QTest::addColumn<QStringList>("datagrams");
        QTest::addColumn<QStringList>("seen");
        QTest::addColumn<int>("failure");     // how a marked reply's handling fails
        QTest::addColumn<QString>("logged");  // one of the lines logged ("": not looked at)
        const QString ok1023 = QString(1023, QLatin1Char('9'));
        const QString long1024 = QString(1024, QLatin1Char('9'));
        auto reply = [](const QString& ip) {
            return QStringLiteral("{\"NetConfig\":[{\"IpAddr\":\"%1\"}]}").arg(ip);
        };
        const int none = int(Failure::BadAlloc);
        QTest::newRow("dotted address")
            << QStringList{reply("198.51.100.10")} << QStringList{"198.51.100.10"} << none
            << "result buffer full, reply left out";
        QTest::newRow("numeric address as its text")
            << QStringList{"{\"NetConfig\":[{\"IpAddr\":42}]}"} << QStringList{"42"} << none << "";
        QTest::newRow("1023-byte address kept")
            << QStringList{reply(ok1023)} << QStringList{ok1023} << none << "";
        QTest::newRow("1024-byte address dropped, not seen")
            << QStringList{reply(long1024), reply("198.51.100.11")} << QStringList{"198.51.100.11"}
            << none << "";
        // One device, whichever way it writes its address.
        QTest::newRow("leading zeros are the same address")
            << QStringList{reply("198.051.100.010"), reply("198.51.100.10"), reply("10.0.0.07")}
            << QStringList{"10.0.0.7", "198.51.100.10"} << none << "";
        // Two devices on one address are both kept; one device heard twice, once.
        auto with_mac = [](const QString& mac) {
            return QStringLiteral(R"({"NetConfig":[{"IpAddr":"198.51.100.10","Mac":"%1"}]})")
                .arg(mac);
        };
        QTest::newRow("address and MAC are the key")
            << QStringList{with_mac("02:00:00:00:00:0a"), with_mac("02:00:00:00:00:0B"),
                           with_mac("02:00:00:00:00:0A")}
            << QStringList{"198.51.100.10 02:00:00:00:00:0A", "198.51.100.10 02:00:00:00:00:0B"}
            << none << "";
        QTest::newRow("not JSON records the empty text")
            << QStringList{"not json", reply("198.51.100.12")} << QStringList{"", "198.51.100.12"}
            << none << "";
        const QStringList marked{reply("198.51.100.10"),
                                 R"({"NetConfig":[{"IpAddr":"198.51.100.99"}],"x":"fail"})",
                                 reply("198.51.100.11")};
        const QStringList kept{"198.51.100.10", "198.51.100.11"};
        QTest::newRow("bad_alloc")
            << marked << kept << int(Failure::BadAlloc) << "reply dropped: std::bad_alloc";
        QTest::newRow("std::exception")
            << marked << kept << int(Failure::StdException) << "reply dropped: broken reply";
        QTest::newRow("anything else")
            << marked << kept << int(Failure::Other) << "reply dropped: unknown failure";
    }

    void receive_thread() {
        QFETCH(QStringList, datagrams);
        QFETCH(QStringList, seen);
        QFETCH(int, failure);
        QFETCH(QString, logged);
        sockaddr_in a{}, b{};
        sock::native_socket rx = loopback_socket(&a);
        sock::native_socket tx = loopback_socket(&b);
        for (const QString& d : datagrams) {
            QVERIFY(send_to(tx, a, d.toStdString()));
        }
        unsigned long ul = 1;
        QCOMPARE(sock::ioctlsocket(rx, FIONBIO, &ul), 0);
        planned_failure = Failure(failure);
        reply_handling_hook = fail_marked_replies;
        take_debug_lines();
        logged_under_result_mutex = false;
        std::thread(receive_replies, rx).join();
        reply_handling_hook = nullptr;
        QStringList recorded;
        for (const std::string& s : seen_addresses) {
            recorded << QString::fromStdString(s);
        }
        seen_addresses.clear();
        QCOMPARE(recorded, seen);
        const QStringList lines = take_debug_lines();
        QVERIFY2(logged.isEmpty() || lines.contains(logged), qPrintable(lines.join('\n')));
        QVERIFY(!logged_under_result_mutex);
        sock::closesocket(tx);
    }

    // At the sweep's end the thread stops at once; what is queued then is read out and
    // dropped, each datagram logged.
    void sweep_end_drops_what_is_queued() {
        sockaddr_in a{}, b{};
        sock::native_socket rx = loopback_socket(&a);
        sock::native_socket tx = loopback_socket(&b);
        for (int i = 0; i < 3; ++i) {
            const std::string d =
                "{\"NetConfig\":[{\"IpAddr\":\"198.51.100." + std::to_string(10 + i) + "\"}]}";
            QVERIFY(send_to(tx, a, d));
        }
        unsigned long ul = 1;
        QCOMPARE(sock::ioctlsocket(rx, FIONBIO, &ul), 0);
        SweepEnd end;
        end.set(SweepEnd::clock::now());
        take_debug_lines();
        QElapsedTimer timer;
        timer.start();
        receive_replies_until(rx, end);
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(seen_addresses.empty());
        const QStringList lines = take_debug_lines();
        QCOMPARE(lines.count(QStringLiteral("reply after the sweep's end dropped, from 127.0.0.1")),
                 3);
        QVERIFY2(lines.contains(
                     QStringLiteral("sweep ended 5000 ms after the last probe; later replies are "
                                    "dropped")),
                 qPrintable(lines.join('\n')));
        sock::closesocket(tx);
    }

#ifndef _WIN32
    // The datagram bound, without a clock: a local datagram pair makes the sender wait while
    // the reader's queue is full, so no datagram is lost and the count is exact.
    void receive_thread_stops_at_its_bound_data() {
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("seen");
        QTest::addColumn<bool>("bound");
        QTest::newRow("one under the bound, read to the silence") << 4095 << 4095 << false;
        QTest::newRow("over the bound: stops at it and says so") << 4200 << 4096 << true;
    }

    void receive_thread_stops_at_its_bound() {
        QFETCH(int, sent);
        QFETCH(int, seen);
        QFETCH(bool, bound);
        int pair[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
        std::thread sender([&] {
            for (int i = 0; i < sent; ++i) {
                const std::string d =
                    "{\"NetConfig\":[{\"IpAddr\":\"a" + std::to_string(i) + "\"}]}";
                // Fails once the reader has closed its end; the rest are not wanted.
                if (::send(pair[0], d.data(), d.size(), MSG_NOSIGNAL) < 0) {
                    break;
                }
            }
        });
        unsigned long ul = 1;
        sock::ioctlsocket(pair[1], FIONBIO, &ul);
        take_debug_lines();
        const bool stopped = receive_replies(pair[1]);
        sender.join();
        QCOMPARE(stopped, bound);
        QCOMPARE(seen_addresses.size(), std::size_t(seen));
        seen_addresses.clear();
        QCOMPARE(take_debug_lines().contains(QStringLiteral(
                     "socket stopped at its bound of 4096 datagrams; later replies are not read")),
                 bound);
        // The thread closed its descriptor.
        QCOMPARE(::fcntl(pair[1], F_GETFD), -1);
        ::close(pair[0]);
    }
#endif
};

QTEST_GUILESS_MAIN(DiscoveryUnit)
#include "tst_discovery_unit.moc"
