#include "command/command_request.h"

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#if !defined(_WIN32)
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;

namespace {

constexpr std::size_t kReplyBufferSize = 1048576;
constexpr auto kPollTime = std::chrono::milliseconds(500);
constexpr int kMaxEmptyPolls = 2;  // the third empty poll ends the wait
constexpr std::size_t kReadChunk = 65536;
// Status line and headers of a reply, counted with CRLF line ends, interim replies included.
constexpr std::size_t kHeadLimit = 64 * 1024;

// Exchange state shared by all calls of the process; guarded by command_mutex.
std::mutex command_mutex;
char reply_buffer[kReplyBufferSize];
// How much of reply_buffer the exchanges since the last clearing wrote at most: clearing that
// much leaves the whole buffer zero, as clearing all of it would, at a fraction of the cost.
std::size_t reply_written = 0;
std::int32_t reply_length = 0;
std::int32_t reply_done = 0;
// A device that answers a byte now and then, or sends a body without end, would otherwise
// hold the caller (the window above all) for as long as it keeps sending.
long request_limit_ms = kDefaultRequestLimitMs;  // 0: no bound on the whole request
// The read buffer (and on Windows the event loop) are kept from call to call; every call leaves
// the buffer empty (and the loop without work).
beast::flat_buffer read_buffer;
#if defined(_WIN32)
std::unique_ptr<net::io_context> command_event_loop;
#endif

// A reply body that lands directly in a fixed buffer. Bytes beyond its capacity are consumed
// and dropped, so an over-long reply is cut instead of failing the parse.
struct CappedBody {
    struct value_type {
        char* data = nullptr;
        std::size_t capacity = 0;
        std::size_t size = 0;
    };

    class reader {
    public:
        template <bool isRequest, class Fields>
        reader(http::header<isRequest, Fields>&, value_type& body) : body_(body) {}

        void init(const boost::optional<std::uint64_t>&, beast::error_code& ec) { ec = {}; }

        template <class ConstBufferSequence>
        std::size_t put(const ConstBufferSequence& buffers, beast::error_code& ec) {
            ec = {};
            std::size_t consumed = 0;
            for (auto it = net::buffer_sequence_begin(buffers);
                 it != net::buffer_sequence_end(buffers); ++it) {
                net::const_buffer piece = *it;
                const std::size_t room = body_.capacity - body_.size;
                const std::size_t take = std::min(room, piece.size());
                if (take > 0) {
                    std::memcpy(body_.data + body_.size, piece.data(), take);
                    body_.size += take;
                    reply_written = std::max(reply_written, body_.size);
                }
                consumed += piece.size();
            }
            return consumed;
        }

        void finish(beast::error_code& ec) { ec = {}; }

    private:
        value_type& body_;
    };
};

struct Target {
    tcp::endpoint endpoint;
    std::string host;  // what the Host header carries
    std::string path;
};

// Accepts "a.b.c.d", "a.b.c.d:port" and the same with "http://" in front and a path behind.
// Names are deliberately not resolved: a lookup would send traffic to a name server.
std::optional<Target> parse_address(std::string_view address) {
    constexpr std::string_view scheme = "http://";
    if (address.size() >= scheme.size() && address.substr(0, scheme.size()) == scheme)
        address.remove_prefix(scheme.size());
    Target target;
    const std::size_t slash = address.find('/');
    std::string_view authority = address.substr(0, slash);
    target.path = slash == std::string_view::npos ? "/" : std::string(address.substr(slash));
    target.host = std::string(authority);

    unsigned long port = 80;
    const std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        port = std::stoul(std::string(digits));
        if (port == 0 || port > 65535)
            return std::nullopt;
        authority = authority.substr(0, colon);
    }
    beast::error_code ec;
    const auto ip = net::ip::make_address_v4(std::string(authority), ec);
    if (ec)
        return std::nullopt;
    target.endpoint = tcp::endpoint(ip, static_cast<unsigned short>(port));
    return target;
}

using Clock = std::chrono::steady_clock;

// One client connection. Its connect, send, receive, reply and close events are what a poll
// dispatches. On POSIX systems the socket is driven directly with poll(), which costs about
// half the system calls of an event loop per request; on Windows by an io_context, whose
// completion handlers play the roles of the events.
class Exchange {
public:
    Exchange(const Target& target, std::string_view body)
        :
#if defined(_WIN32)
          socket_(event_loop()),
#endif
          target_(target),
          buffer_(read_buffer) {
        buffer_.clear();
        // An empty body has no POST to carry it; it goes out as a GET.
        request_ = body.empty() ? "GET " : "POST ";
        request_ += target.path;
        request_ += " HTTP/1.1\r\nHost: ";
        request_ += target.host;
        request_ += "\r\nContent-Length: ";
        request_ += std::to_string(body.size());
        request_ += "\r\n\r\n";
        request_ += body;

        // The body type cuts, so the parser must not refuse. (A numeric limit: boost::none
        // is mishandled for Content-Length bodies by this Beast version.)
        parser_.body_limit(std::numeric_limits<std::uint64_t>::max());
        parser_.header_limit(static_cast<std::uint32_t>(kHeadLimit));
        parser_.get().body() = CappedBody::value_type{reply_buffer, kReplyBufferSize, 0};
    }

#if defined(_WIN32)
    void start() {
        socket_.async_connect(target_.endpoint, [this](beast::error_code ec) {
            if (ec)
                return on_close();
            send(0);
        });
    }

    // One poll: waits up to `wait` for the first event, then dispatches everything ready.
    // Returns the number of events dispatched.
    std::size_t poll(Clock::duration wait) {
        net::io_context& ioc = event_loop();
        ioc.restart();
        std::size_t handled = ioc.run_one_for(wait);
        if (handled > 0 && reply_done == 0)
            handled += ioc.poll();
        return handled;
    }

    // Releasing the connection: close it and let the cancelled operations finish.
    void finish() {
        finished_ = true;
        beast::error_code ignored;
        socket_.close(ignored);
        net::io_context& ioc = event_loop();
        ioc.restart();
        ioc.run();
    }
#else
    void start() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            return on_close();
        if (::connect(fd_, target_.endpoint.data(),
                      static_cast<socklen_t>(target_.endpoint.size())) != 0 &&
            errno != EINPROGRESS && errno != EINTR)
            return on_close();
        // A device on the same host or link often has accepted before connect() returns: the
        // request then goes out at once.
        dispatch();
    }

    std::size_t poll(Clock::duration wait) {
        pollfd p{fd_, static_cast<short>(sent_ < request_.size() ? POLLOUT : POLLIN), 0};
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
        const int ready = ::poll(&p, 1, static_cast<int>(ms));
        if (ready < 0 && errno == EINTR)
            return 1;  // not an empty poll: the wait was cut short
        if (ready < 0)
            return on_close(), 1;
        return ready == 0 ? 0 : dispatch();
    }

    void finish() {
        finished_ = true;
        close_socket();
    }

    ~Exchange() {
        close_socket();
    }
#endif

private:
#if defined(_WIN32)
    static net::io_context& event_loop() {
        if (!command_event_loop)
            command_event_loop = std::make_unique<net::io_context>(1);
        return *command_event_loop;
    }

    // Sends the rest of the request after its first `done` bytes, then reads the reply.
    void send(std::size_t done) {
        if (done == request_.size())
            return read();
        net::async_write(socket_, net::buffer(request_) + done,
                         [this](beast::error_code ec, std::size_t) {
                             if (ec)
                                 return on_close();
                             read();
                         });
    }

    void read() {
        socket_.async_read_some(buffer_.prepare(kReadChunk),
                                [this](beast::error_code ec, std::size_t n) {
                                    if (finished_)
                                        return;
                                    if (ec == net::error::eof)
                                        return on_end();
                                    if (ec)
                                        return on_close();
                                    buffer_.commit(n);
                                    parse();
                                });
    }
#else
    // Sends and receives whatever the socket takes and holds without waiting; returns the
    // number of events (each send and receive that moved bytes, the end of the connection,
    // a failure).
    std::size_t dispatch() {
        std::size_t events = 0;
        while (!finished_) {
            if (sent_ < request_.size()) {
                const ssize_t n =
                    ::send(fd_, request_.data() + sent_, request_.size() - sent_, MSG_NOSIGNAL);
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                    break;  // still connecting, or the socket's buffer is full
                ++events;
                if (n < 0)
                    on_close();
                else
                    sent_ += static_cast<std::size_t>(n);
                continue;
            }
            const auto space = buffer_.prepare(kReadChunk);
            const ssize_t n = ::recv(fd_, space.data(), space.size(), 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                break;
            ++events;
            if (n < 0) {
                on_close();
            } else if (n == 0) {
                on_end();
            } else {
                buffer_.commit(static_cast<std::size_t>(n));
                parse();
            }
        }
        return events;
    }

    // More of the reply is wanted: dispatch() goes on receiving.
    void read() {}

    void close_socket() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
#endif

    // The device closed the connection: a reply delimited by the end of the connection is
    // complete now; anything else was cut short.
    void on_end() {
        beast::error_code ec;
        parser_.put_eof(ec);
        if (!ec && parser_.is_done())
            return on_reply();
        on_close();
    }

    void parse() {
        if (!head_done_) {
            if (!take_head())
                return on_close();
            if (!head_done_)
                return read();
        }
        while (buffer_.size() > 0 && !parser_.is_done()) {
            beast::error_code ec;
            const std::size_t used = parser_.put(buffer_.data(), ec);
            buffer_.consume(used);
            if (ec == http::error::need_more)
                break;
            if (ec)
                return on_close();
        }
        if (parser_.is_done())
            return on_reply();
        read();
    }

    // Device firmware writes HTTP loosely: header lines may end in a bare LF, and an interim
    // "100 Continue" may come first. The head is therefore collected here, each line given
    // its CRLF, interim replies passed over, and only the final head handed to the parser.
    // False when the reply cannot be read (head over the limit, or refused by the parser).
    bool take_head() {
        for (;;) {
            const std::string_view data(static_cast<const char*>(buffer_.data().data()),
                                        buffer_.size());
            bool ended = false;  // the blank line that ends a head was read
            while (!ended) {
                const std::size_t newline = data.find('\n', scan_);
                if (newline == std::string_view::npos) {
                    // The line being received counts towards the limit too.
                    return head_bytes_ + head_.size() + (data.size() - scan_) <= kHeadLimit;
                }
                std::string_view line = data.substr(scan_, newline - scan_);
                if (!line.empty() && line.back() == '\r')
                    line.remove_suffix(1);
                scan_ = newline + 1;
                ended = line.empty();
                head_.append(line);
                head_ += "\r\n";
                if (head_bytes_ + head_.size() > kHeadLimit)
                    return false;
            }
            head_bytes_ += head_.size();
            buffer_.consume(scan_);
            scan_ = 0;
            std::string head;
            head.swap(head_);
            if (is_interim(head))
                continue;
            beast::error_code ec;
            parser_.put(net::buffer(head), ec);
            if (ec || !parser_.is_header_done())
                return false;
            head_done_ = true;
            return true;
        }
    }

    // "HTTP/1.x 1xx ...": a reply that another one follows.
    static bool is_interim(std::string_view head) {
        constexpr std::string_view version = "HTTP/1.";
        return head.size() > 12 && head.substr(0, version.size()) == version && head[8] == ' ' &&
               head[9] == '1' && head[10] >= '0' && head[10] <= '9' && head[11] >= '0' &&
               head[11] <= '9' && (head[12] == ' ' || head[12] == '\r');
    }

    void on_reply() {
        // Any status: the body is what the caller gets.
        reply_length = static_cast<std::int32_t>(parser_.get().body().size);
        reply_done = 1;
        on_close();
    }

    void on_close() {
        reply_done = 1;
        finished_ = true;
#if defined(_WIN32)
        beast::error_code ignored;
        socket_.close(ignored);
#else
        close_socket();
#endif
    }

#if defined(_WIN32)
    tcp::socket socket_;
#else
    int fd_ = -1;
    std::size_t sent_ = 0;  // bytes of the request sent so far
#endif
    Target target_;
    std::string request_;
    beast::flat_buffer& buffer_;
    http::response_parser<CappedBody> parser_;
    std::string head_;            // the lines of the head being collected, with CRLF ends
    std::size_t scan_ = 0;        // where the next line of the head starts in buffer_
    std::size_t head_bytes_ = 0;  // the heads collected so far
    bool head_done_ = false;      // the final head went to the parser; body bytes follow
    bool finished_ = false;
};

void exchange(const char* address, const char* body, long limit_ms) {
    const std::optional<Target> target = parse_address(address ? address : "");
    if (!target) {
        reply_done = 1;
        return;
    }
    Exchange ex(*target, body ? std::string_view(body) : std::string_view());
    ex.start();

    // One poll waits up to 500 ms for activity and then dispatches everything ready. The empty
    // polls are counted over the whole call, never reset.
    const Clock::time_point deadline = limit_ms > 0
                                           ? Clock::now() + std::chrono::milliseconds(limit_ms)
                                           : Clock::time_point::max();
    int empty_polls = 0;
    while (reply_done == 0) {
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            break;
        if (ex.poll(std::min<Clock::duration>(kPollTime, left)) > 0)
            continue;
        if (++empty_polls > kMaxEmptyPolls)
            break;
    }
    ex.finish();
}

}  // namespace

int send_http_cmd(const char* address, const char* body, char* reply, std::size_t reply_capacity) {
    const std::lock_guard<std::mutex> lock(command_mutex);
    reply_done = 0;
    std::memset(reply_buffer, 0, reply_written);
    reply_written = 0;
    reply_length = 0;

    try {
        exchange(address, body, request_limit_ms);
    } catch (...) {
        // Failures show as an empty reply, never as an exception to the caller. An event loop
        // may still hold handlers of the abandoned exchange: it goes with them.
#if defined(_WIN32)
        command_event_loop.reset();
#endif
        read_buffer = beast::flat_buffer();
        reply_length = 0;
    }

    if (reply != nullptr && reply_capacity > 0) {
        const std::size_t n = std::min<std::size_t>(reply_length, reply_capacity - 1);
        std::memcpy(reply, reply_buffer, n);
        reply[n] = '\0';
    }
    return 0;
}

void set_request_time_limit(long milliseconds) {
    const std::lock_guard<std::mutex> lock(command_mutex);
    request_limit_ms = milliseconds > 0 ? milliseconds : 0;
}
