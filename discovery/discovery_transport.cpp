#include "discovery/discovery_transport.h"

#include <QDebug>
#include <QHostAddress>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QTime>
#include <QUdpSocket>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace sock = corvane::sock;

neb::CJsonObject search_result;
std::mutex result_mutex;
std::set<std::string> seen_addresses;
std::mutex seen_mutex;

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
    std::lock_guard<std::mutex> lock(result_mutex);
    neb::CJsonObject& parameters = search_result.Member("Parameters");
    const std::size_t grown = result_length + element + (parameters.ArraySize() > 0 ? 1 : 0);
    if (grown > result_limit) {
        qDebug() << "result buffer full, reply left out";
        return;
    }
    if (parameters.AppendDocument(reply)) {
        result_length = grown;
    }
}

}  // namespace

bool is_probe_entry(const QNetworkAddressEntry& entry) {
    if (entry.broadcast().isNull()) {
        return false;
    }
    if (entry.ip() == QHostAddress(QStringLiteral("127.0.0.1"))) {
        return false;
    }
    return entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
}

void receive_replies(sock::native_socket descriptor) {
    int count = 0;
    char buffer[discovery_datagram_capacity];
    sockaddr_in sender{};
    for (;;) {
        if (sock::wait_readable(descriptor, discovery_wait_seconds) != 1) {
            break;
        }
        bool accepted;
        do {
            accepted = false;
            std::memset(buffer, 0, sizeof(buffer));
            const long received =
                sock::receive_datagram(descriptor, buffer, sizeof(buffer), &sender);
            if (received > 0) {
                ++count;
                neb::CJsonObject reply;
                const bool parsed =
                    reply.FromText(std::string(buffer, static_cast<std::size_t>(received)));
                const std::string address = reply.Member("NetConfig").Element(0).ReadText("IpAddr");
                // Devices send dotted IPv4 texts; a longer one is no address: the reply is
                // dropped rather than cut, since cut texts could collide with a real address.
                if (address.size() < discovery_address_capacity) {
                    bool fresh;
                    {
                        std::lock_guard<std::mutex> lock(seen_mutex);
                        fresh = seen_addresses.insert(address).second;
                    }
                    if (fresh) {
                        accepted = true;
                        if (parsed) {
                            append_reply(reply);
                        }
                    }
                }
            }
        } while (accepted && count < discovery_datagrams_per_socket);
        if (count >= discovery_datagrams_per_socket) {
            break;
        }
    }
    sock::closesocket(descriptor);
}

int search_device(char* result, std::size_t capacity) {
    std::lock_guard<std::mutex> sweep(sweep_mutex);

    // No receive thread exists before the first start and after the last join, so the shared
    // state is touched here without its locks.
    // The previous sweep left both empty; clearing again costs nothing and keeps a stray
    // member from making the puts below fail.
    search_result.Reset();
    seen_addresses.clear();
    search_result.PutInt32("ProtocolCode", 999);
    search_result.PutEmptyArray("Parameters");
    result_length = search_result.CompactText().size();
    result_limit = capacity > 0 ? capacity - 1 : 0;

    // Each QUdpSocket keeps the socket it bound; the receive thread gets a duplicate descriptor
    // of its own and closes that one. Each descriptor thus has exactly one closer, and the
    // socket object's close at the end of the sweep cannot hit a number that was reused by
    // someone else after the thread's close.
    std::vector<std::unique_ptr<QUdpSocket>> sockets;
    std::vector<sock::native_socket> descriptors;
    for (const QNetworkInterface& network_interface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : network_interface.addressEntries()) {
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
        }
    }
    qDebug() << "m_udpSocket length" << static_cast<int>(descriptors.size());

    const QTime start = QTime::currentTime();

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(discovery_port);
    destination.sin_addr.s_addr = inet_addr(discovery_address);

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
            threads.emplace_back(receive_replies, descriptor);
        } catch (const std::system_error&) {
            qDebug() << "receive thread not started";
            sock::closesocket(descriptor);
        }
    }

    for (std::thread& thread : threads) {
        thread.join();
    }

    const std::string text = search_result.CompactText();
    int status = 0;
    if (result != nullptr && text.size() < capacity) {
        std::memcpy(result, text.data(), text.size());
        result[text.size()] = '\0';
    } else if (result != nullptr && sizeof(empty_result) <= capacity) {
        std::memcpy(result, empty_result, sizeof(empty_result));
    } else {
        if (result != nullptr && capacity > 0) {
            result[0] = '\0';
        }
        status = -1;
    }

    search_result.Reset();
    seen_addresses.clear();
    sockets.clear();

    const QTime end = QTime::currentTime();
    qDebug() << "接收数据的时间" << start << "到" << end;
    return status;
}
