// One discovery sweep: the probe goes out from every local IPv4 address, the devices' JSON
// replies are collected by one receive thread per socket and handed back as one compact text.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "discovery/socket_compat.h"
#include "discovery/sweep_report.h"
#include "json/json_document.h"

class QNetworkAddressEntry;

// The probe text; the datagram carries exactly its 48 characters, no terminator.
inline constexpr char discovery_probe[] = "{0x3c, 0x51, 0xe2, 0x07, 0x9a, 0x4d, 0xf6, 0x2b}";
inline constexpr std::size_t discovery_probe_length = sizeof(discovery_probe) - 1;
static_assert(discovery_probe_length == 48, "the probe is 48 bytes");

inline constexpr const char* discovery_address = "255.255.255.255";
inline constexpr unsigned short discovery_port = 61111;
inline constexpr std::size_t discovery_datagram_capacity = 1400;
// A sweep reads at most this many datagrams per socket: enough for a /22 of devices answering
// twice, while a flood still cannot keep a receive thread reading without end.
inline constexpr int discovery_datagrams_per_socket = 4096;
inline constexpr std::size_t discovery_address_capacity = 1024;
inline constexpr long discovery_wait_seconds = 1;
// A sweep takes replies until this long after its last probe left: a host that answers just
// under every second would otherwise keep it, and the window, busy without end.
inline constexpr std::chrono::milliseconds discovery_sweep_limit{5000};
// Room for a burst of many full-size replies with the kernel's per-datagram overhead; the
// kernel caps it at its own limit, and the thread reads while the burst comes in.
inline constexpr int discovery_receive_buffer = 16 * 1024 * 1024;

// The "ProtocolCode" that heads the collected replies; no device command has it.
inline constexpr std::int32_t discovery_result_code = 999;

// Collected replies of the running sweep: {"ProtocolCode":999,"Parameters":[...]}.
extern neb::CJsonObject search_result;
extern std::mutex result_mutex;
// Keys of the replies accepted in the running sweep: the "IpAddr" text, followed by " " and
// the "Mac" text (upper case) when the reply has one. Two devices that answer with one address
// are both kept, and the conflict is seen; one device heard twice is kept once.
extern std::set<std::string> seen_addresses;
extern std::mutex seen_mutex;

// Called by a receive thread with every datagram it reads, before handling it; null in the
// tool. Tests set it to make the handling of a reply fail.
extern void (*reply_handling_hook)(const char* data, std::size_t length);

// Whether an address entry of a local interface gets a probe socket: IPv4, with a broadcast
// address, and not 127.0.0.1.
bool is_probe_entry(const QNetworkAddressEntry& entry);
// The subnets of all local address entries that would get a probe socket.
std::vector<LocalSubnet> local_probe_subnets();

// When a sweep stops taking replies. Unset (no end) until the last probe has left, and for a
// receive thread outside a sweep.
class SweepEnd {
public:
    using clock = std::chrono::steady_clock;
    void set(clock::time_point at) { at_ = at.time_since_epoch().count(); }
    clock::time_point get() const { return clock::time_point(clock::duration(at_.load())); }

private:
    std::atomic<clock::rep> at_{clock::duration::max().count()};
};

// The collected replies of one sweep, broadcast or unicast: taking one holds every other sweep
// off, starts an empty result for a caller's buffer of `capacity` bytes and clears it again at
// the end.
class ReplyCollection {
public:
    explicit ReplyCollection(std::size_t capacity);
    ~ReplyCollection();
    ReplyCollection(const ReplyCollection&) = delete;
    ReplyCollection& operator=(const ReplyCollection&) = delete;
    // Writes the compact result text with its NUL, as search_device describes.
    int write(char* result, std::size_t capacity) const;

private:
    std::lock_guard<std::mutex> sweep_;
};

// Handles one received datagram within a collection: kept unless its address was seen. A
// failure while handling it (memory, above all) costs that reply, logged. True when kept.
bool take_reply(const char* data, std::size_t length) noexcept;

// Runs one sweep (at least one second, at most five after the last probe left) and writes the
// compact result text with its NUL into `result`, never more than `capacity` bytes. Replies
// that would not fit are left out, so the text is always a whole document. Returns 0; -1 when
// `result` cannot hold even the empty document (37 bytes), in which case it holds "" if it has room
// for the NUL. One sweep at a time: a second caller waits for the first.
// `report`, when given, receives the bound warning and the probed subnets.
int search_device(char* result, std::size_t capacity, SweepReport* report = nullptr);

// Receive thread body: reads the replies of one socket until a one-second silence or its
// datagram bound, then closes the descriptor. A reply whose handling fails is dropped with a
// log line; nothing leaves the thread. True when the bound stopped it.
bool receive_replies(corvane::sock::native_socket descriptor);
// The same within a sweep: at `end` the thread stops waiting; what is still queued then, or
// read after it, is dropped, each datagram with a log line.
bool receive_replies_until(corvane::sock::native_socket descriptor, const SweepEnd& end);
