#include "discovery/unicast_sweep.h"

#include <QDebug>

#include <chrono>
#include <cstring>
#include <thread>

#include "discovery/discovery_transport.h"
#include "discovery/ipv4_address.h"

namespace sock = corvane::sock;

namespace {

using clock = std::chrono::steady_clock;

// Reads what has arrived, waiting at most until `until`. False once the datagram bound is met.
bool read_until(sock::native_socket descriptor, clock::time_point until, long* count, long bound,
                clock::time_point* last_reply) {
    char buffer[discovery_datagram_capacity];
    sockaddr_in sender{};
    for (;;) {
        const long wait_ms = long(
            std::chrono::duration_cast<std::chrono::milliseconds>(until - clock::now()).count());
        if (sock::wait_readable_ms(descriptor, wait_ms > 0 ? wait_ms : 0) != 1) {
            // The wait counts whole milliseconds; the rest is slept, so that no probe leaves
            // before its time however high the rate.
            std::this_thread::sleep_until(until);
            return true;
        }
        const long received = sock::receive_datagram(descriptor, buffer, sizeof(buffer), &sender);
        if (received <= 0) {
            continue;
        }
        *last_reply = clock::now();
        take_reply(buffer, std::size_t(received));
        if (++*count >= bound) {
            qDebug() << "unicast sweep: datagram bound met," << *count << "read";
            return false;
        }
    }
}

}  // namespace

int search_addresses(const std::vector<std::uint32_t>& targets, int rate, char* result,
                     std::size_t capacity, SweepReport* report) {
    if (rate < 1) {
        rate = 1;
    }
    ReplyCollection collection(capacity);
    if (report != nullptr) {
        *report = SweepReport{};
        report->subnets = local_probe_subnets();
    }
    sock::startup();
    const sock::native_socket descriptor = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (descriptor == sock::invalid_socket) {
        qDebug() << "unicast sweep: no socket";
        collection.write(result, capacity);
        return -1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    ::bind(descriptor, reinterpret_cast<const sockaddr*>(&local), sizeof(local));
    sock::set_int_option(descriptor, SOL_SOCKET, SO_RCVBUF, discovery_receive_buffer);

    const long bound = unicast_datagram_bound(targets.size());
    long count = 0;
    bool open = true;
    const clock::time_point start = clock::now();
    clock::time_point last_reply = start;
    const auto spacing =
        std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / rate));
    for (std::size_t i = 0; i < targets.size(); ++i) {
        // Probe i leaves no sooner than i / rate seconds after the first one.
        const clock::time_point due = start + spacing * long(i);
        if (open) {
            open = read_until(descriptor, due, &count, bound, &last_reply);
        } else {
            std::this_thread::sleep_until(due);
        }
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_port = htons(discovery_port);
        destination.sin_addr.s_addr = htonl(targets[i]);
        if (sock::send_datagram(descriptor, discovery_probe, discovery_probe_length, destination) ==
            -1) {
            qDebug() << "unicast sweep: sendto" << ipv4_text(targets[i]).c_str() << "failed";
        }
    }
    const clock::time_point last_probe = clock::now();
    const clock::time_point limit = last_probe + discovery_sweep_limit;
    const auto silence = std::chrono::seconds(discovery_wait_seconds);
    // Done at one second without a reply after the last probe, or at the bound after it.
    while (open) {
        const clock::time_point quiet =
            (last_reply > last_probe ? last_reply : last_probe) + silence;
        if (quiet <= clock::now() || limit <= clock::now()) {
            break;
        }
        open = read_until(descriptor, quiet < limit ? quiet : limit, &count, bound, &last_reply);
    }
    sock::closesocket(descriptor);
    if (report != nullptr) {
        report->bound_reached = count >= bound;
    }
    qDebug() << "unicast sweep:" << long(targets.size()) << "probes," << count << "datagrams in"
             << std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start).count()
             << "ms";
    return collection.write(result, capacity);
}
