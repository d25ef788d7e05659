#include "discovery/discovery_transport.h"

#include <QDebug>
#include <QHostAddress>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QTime>
#include <QUdpSocket>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "discovery/ipv4_address.h"

namespace sock = corvane::sock;

neb::CJsonObject search_result;
std::mutex result_mutex;
std::set<std::string> seen_addresses;
std::mutex seen_mutex;
void (*reply_handling_hook)(const char* data, std::size_t length) = nullptr;

namespace {

// Guarded by result_mutex: the length the compact result text has so far, and the most it
// may reach so that it fits the caller's buffer with its NUL.
std::size_t result_length = 0;
std::size_t result_limit = 0;

std::mutex sweep_mutex;

constexpr const char empty_result[] = "{\"ProtocolCode\":999,\"Parameters\":[]}";

// Appends one accepted reply unless the result would outgrow the caller's buffer.
void append_reply(neb::CJsonObject& reply) {
    const std::size_t element = reply.CompactText().size();
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(result_mutex);
        neb::CJsonObject& parameters = search_result.Member("Parameters");
        const std::size_t grown = result_length + element + (parameters.ArraySize() > 0 ? 1 : 0);
        full = grown > result_limit;
        if (!full && parameters.AppendDocument(reply)) {
            result_length = grown;
        }
    }
    // Logged after the release: the debug stream takes locks of its own.
    if (full) {
        qDebug() << "result buffer full, reply left out";
    }
}

// Reads one datagram's reply and keeps it unless its address was seen. True when kept.
bool handle_datagram(const char* data, std::size_t length) {
    if (reply_handling_hook != nullptr) {
        reply_handling_hook(data, length);
    }
    neb::CJsonObject reply;
    const bool parsed = reply.FromText(std::string(data, length));
    std::string address = reply.Member("NetConfig").Element(0).ReadText("IpAddr");
    // Devices send dotted IPv4 texts; a longer one is no address: the reply is dropped rather
    // than cut, since cut texts could collide with a real address.
    if (address.size() >= discovery_address_capacity) {
        return false;
    }
    // "198.051.100.010" and "198.51.100.10" are one device; its record holds the latter.
    if (std::optional<std::string> canonical = canonical_ipv4(address)) {
        address = std::move(*canonical);
    }
    // Keyed by address and MAC: a second device with the same address is a conflict to show,
    // not a repeat to drop.
    std::string key = std::move(address);
    const std::string mac = reply.Member("NetConfig").Element(0).ReadText("Mac");
    if (!mac.empty()) {
        key += ' ';
        for (const char c : mac) {
            key += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        }
    }
    bool fresh;
    {
        std::lock_guard<std::mutex> lock(seen_mutex);
        fresh = seen_addresses.insert(std::move(key)).second;
    }
    if (fresh && parsed) {
        append_reply(reply);
    }
    return fresh;
}

// A failure while handling one reply (memory, above all) costs that reply, never the process.
void log_dropped_reply(const char* reason) noexcept {
    try {
        qDebug() << "reply dropped:" << reason;
    } catch (...) {
        // Not even the log line could be had; the sweep goes on without it.
    }
}

}  // namespace

ReplyCollection::ReplyCollection(std::size_t capacity) : sweep_(sweep_mutex) {
    // No receive thread exists before the first start and after the last join, so the shared
    // state is touched here without its locks.
    // The previous sweep left both empty; clearing again costs nothing and keeps a stray
    // member from making the puts below fail.
    search_result.Reset();
    seen_addresses.clear();
    search_result.PutInt32("ProtocolCode", discovery_result_code);
    search_result.PutEmptyArray("Parameters");
    result_length = search_result.CompactText().size();
    result_limit = capacity > 0 ? capacity - 1 : 0;
}

ReplyCollection::~ReplyCollection() {
    search_result.Reset();
    seen_addresses.clear();
}

int ReplyCollection::write(char* result, std::size_t capacity) const {
    const std::string text = search_result.CompactText();
    if (result != nullptr && text.size() < capacity) {
        std::memcpy(result, text.data(), text.size());
        result[text.size()] = '\0';
        return 0;
    }
    if (result != nullptr && sizeof(empty_result) <= capacity) {
        std::memcpy(result, empty_result, sizeof(empty_result));
        return 0;
    }
    if (result != nullptr && capacity > 0) {
        result[0] = '\0';
    }
    return -1;
}

bool take_reply(const char* data, std::size_t length) noexcept {
    try {
        return handle_datagram(data, length);
    } catch (const std::exception& e) {
        log_dropped_reply(e.what());
    } catch (...) {
        log_dropped_reply("unknown failure");
    }
    return false;
}

bool is_probe_entry(const QNetworkAddressEntry& entry) {
    if (entry.broadcast().isNull()) {
        return false;
    }
    if (entry.ip() == QHostAddress(QStringLiteral("127.0.0.1"))) {
        return false;
    }
    return entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
}

namespace {

// The subnet of an address entry.
LocalSubnet entry_subnet(const QNetworkAddressEntry& entry) {
    return {entry.ip().toIPv4Address(), entry.netmask().toIPv4Address()};
}

}  // namespace

std::vector<LocalSubnet> local_probe_subnets() {
    std::vector<LocalSubnet> subnets;
    for (const QNetworkInterface& local : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : local.addressEntries()) {
            if (is_probe_entry(entry)) {
                subnets.push_back(entry_subnet(entry));
            }
        }
    }
    return subnets;
}

bool receive_replies(sock::native_socket descriptor) {
    static const SweepEnd never;
    return receive_replies_until(descriptor, never);
}

bool receive_replies_until(sock::native_socket descriptor, const SweepEnd& end) {
    using clock = SweepEnd::clock;
    constexpr long silence_ms = discovery_wait_seconds * 1000;
    int count = 0;
    char buffer[discovery_datagram_capacity];
    sockaddr_in sender{};
    bool ended = false;  // the sweep's end came before this socket fell silent
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end.get() - clock::now());
        if (left.count() <= 0) {
            ended = true;
            break;
        }
        const long wait_ms = left.count() < silence_ms ? long(left.count()) : silence_ms;
        if (sock::wait_readable_ms(descriptor, wait_ms) != 1) {
            ended = wait_ms < silence_ms;
            break;
        }
        bool accepted;
        do {
            accepted = false;
            if (clock::now() >= end.get()) {
                break;
            }
            std::memset(buffer, 0, sizeof(buffer));
            const long received =
                sock::receive_datagram(descriptor, buffer, sizeof(buffer), &sender);
            if (received > 0) {
                ++count;
                accepted = take_reply(buffer, static_cast<std::size_t>(received));
            }
        } while (accepted && count < discovery_datagrams_per_socket);
        if (count >= discovery_datagrams_per_socket) {
            qDebug() << "socket stopped at its bound of" << discovery_datagrams_per_socket
                     << "datagrams; later replies are not read";
            break;
        }
    }
    if (ended) {
        qDebug() << "sweep ended" << discovery_sweep_limit.count()
                 << "ms after the last probe; later replies are dropped";
        // What came in meanwhile is read out and dropped, each datagram logged; never waited
        // for, and within the socket's datagram bound.
        while (count < discovery_datagrams_per_socket &&
               sock::wait_readable_ms(descriptor, 0) == 1) {
            const long received =
                sock::receive_datagram(descriptor, buffer, sizeof(buffer), &sender);
            if (received <= 0) {
                break;
            }
            ++count;
            qDebug() << "reply after the sweep's end dropped, from"
                     << qUtf8Printable(QHostAddress(ntohl(sender.sin_addr.s_addr)).toString());
        }
    }
    sock::closesocket(descriptor);
    return count >= discovery_datagrams_per_socket;
}

int search_device(char* result, std::size_t capacity, SweepReport* report) {
    ReplyCollection collection(capacity);

    // Each QUdpSocket keeps the socket it bound; the receive thread gets a duplicate descriptor
    // of its own and closes that one. Each descriptor thus has exactly one closer, and the
    // socket object's close at the end of the sweep cannot hit a number that was reused by
    // someone else after the thread's close.
    std::vector<std::unique_ptr<QUdpSocket>> sockets;
    std::vector<sock::native_socket> descriptors;
    std::vector<LocalSubnet> subnets;
    for (const QNetworkInterface& local : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : local.addressEntries()) {
            if (!is_probe_entry(entry)) {
                continue;
            }
            auto socket = std::make_unique<QUdpSocket>();
            if (!socket->bind(entry.ip(), 0)) {
                continue;
            }
            const sock::native_socket descriptor =
                sock::duplicate(static_cast<sock::native_socket>(socket->socketDescriptor()));
            if (descriptor == sock::invalid_socket) {
                continue;
            }
            sockets.push_back(std::move(socket));
            descriptors.push_back(descriptor);
            subnets.push_back(entry_subnet(entry));
        }
    }
    qDebug() << "m_udpSocket length" << static_cast<int>(descriptors.size());

    const QTime start = QTime::currentTime();

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(discovery_port);
    destination.sin_addr.s_addr = inet_addr(discovery_address);

    SweepEnd sweep_end;
    std::atomic<bool> bound_reached{false};
    std::vector<std::thread> threads;
    threads.reserve(descriptors.size());
    for (sock::native_socket descriptor : descriptors) {
        sock::set_int_option(descriptor, SOL_SOCKET, SO_BROADCAST, 1);
        // Many devices answer at the same moment; a queue of the default size would drop part
        // of the burst before the thread gets to read it.
        sock::set_int_option(descriptor, SOL_SOCKET, SO_RCVBUF, discovery_receive_buffer);
        const long sent =
            sock::send_datagram(descriptor, discovery_probe, discovery_probe_length, destination);
        if (sent == -1) {
            qDebug() << "sendto error";
        }
        unsigned long ul = 1;
        if (sock::ioctlsocket(descriptor, FIONBIO, &ul) == -1) {
            qDebug() << "ioctlsocket(sock, FIONBIO, (unsigned long *)&ul) fail!!!";
            // A blocking read would wait for a datagram that may never come; the time-out
            // keeps the thread, and so the sweep, bounded.
            sock::set_receive_timeout(descriptor, discovery_wait_seconds);
        }
        try {
            threads.emplace_back([descriptor, &sweep_end, &bound_reached] {
                if (receive_replies_until(descriptor, sweep_end)) {
                    bound_reached = true;
                }
            });
        } catch (const std::system_error&) {
            qDebug() << "receive thread not started";
            sock::closesocket(descriptor);
        }
    }

    sweep_end.set(SweepEnd::clock::now() + discovery_sweep_limit);

    for (std::thread& thread : threads) {
        thread.join();
    }

    const int status = collection.write(result, capacity);
    sockets.clear();
    if (report != nullptr) {
        report->bound_reached = bound_reached;
        report->subnets = std::move(subnets);
    }

    const QTime end = QTime::currentTime();
    qDebug() << "接收数据的时间" << start << "到" << end;
    return status;
}
