#include "command_request.h"

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;

namespace {

constexpr std::size_t kReplyBufferSize = 1048576;
constexpr auto kPollTime = std::chrono::milliseconds(500);
constexpr int kMaxEmptyPolls = 2;  // the third empty poll ends the wait
constexpr std::size_t kReadChunk = 65536;

// Exchange state shared by all calls of the process; guarded by command_mutex.
std::mutex command_mutex;
char reply_buffer[kReplyBufferSize];
std::int32_t reply_length = 0;
std::int32_t reply_done = 0;

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

// One client connection driven by the caller's io_context. The handlers play the roles of the
// connect, send, receive, reply and close events of the exchange.
class Exchange {
public:
    Exchange(net::io_context& ioc, const Target& target, std::string_view body)
        : socket_(ioc), target_(target) {
        // An empty body has no POST to carry it; it goes out as a GET, as it always has.
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
        parser_.header_limit(64 * 1024);
        parser_.get().body() = CappedBody::value_type{reply_buffer, kReplyBufferSize, 0};
    }

    void start() {
        socket_.async_connect(target_.endpoint, [this](beast::error_code ec) {
            if (ec)
                return on_close();
            net::async_write(socket_, net::buffer(request_),
                             [this](beast::error_code ec, std::size_t) {
                                 if (ec)
                                     return on_close();
                                 read();
                             });
        });
    }

    // Releasing the connection: close it and let the cancelled operations finish.
    void shutdown() {
        finished_ = true;
        beast::error_code ignored;
        socket_.close(ignored);
    }

private:
    void read() {
        socket_.async_read_some(buffer_.prepare(kReadChunk),
                                [this](beast::error_code ec, std::size_t n) {
                                    if (finished_)
                                        return;
                                    if (ec == net::error::eof) {
                                        // A reply delimited by the end of the connection is
                                        // complete now; anything else was cut short.
                                        beast::error_code eof_ec;
                                        parser_.put_eof(eof_ec);
                                        if (!eof_ec && parser_.is_done())
                                            return on_reply();
                                        return on_close();
                                    }
                                    if (ec)
                                        return on_close();
                                    buffer_.commit(n);
                                    parse();
                                });
    }

    void parse() {
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

    void on_reply() {
        // Any status: the body is what the caller gets.
        reply_length = static_cast<std::int32_t>(parser_.get().body().size);
        reply_done = 1;
        on_close();
    }

    void on_close() {
        reply_done = 1;
        finished_ = true;
        beast::error_code ignored;
        socket_.close(ignored);
    }

    tcp::socket socket_;
    Target target_;
    std::string request_;
    beast::flat_buffer buffer_;
    http::response_parser<CappedBody> parser_;
    bool finished_ = false;
};

void exchange(const char* address, const char* body) {
    const std::optional<Target> target = parse_address(address ? address : "");
    if (!target) {
        reply_done = 1;
        return;
    }
    net::io_context ioc(1);
    Exchange ex(ioc, *target, body ? std::string_view(body) : std::string_view());
    ex.start();

    // One poll waits up to 500 ms for activity and then dispatches everything ready. The empty
    // polls are counted over the whole call, never reset.
    int empty_polls = 0;
    while (reply_done == 0) {
        ioc.restart();
        std::size_t handled = ioc.run_one_for(kPollTime);
        if (handled > 0)
            handled += ioc.poll();
        if (handled > 0)
            continue;
        if (++empty_polls > kMaxEmptyPolls)
            break;
    }

    ex.shutdown();
    ioc.restart();
    ioc.run();
}

}  // namespace

int send_http_cmd(const char* address, const char* body, char* reply, std::size_t reply_capacity) {
    const std::lock_guard<std::mutex> lock(command_mutex);
    reply_done = 0;
    std::memset(reply_buffer, 0, sizeof reply_buffer);
    reply_length = 0;

    try {
        exchange(address, body);
    } catch (...) {
        // Failures show as an empty reply, never as an exception to the caller.
        reply_length = 0;
    }

    if (reply != nullptr && reply_capacity > 0) {
        const std::size_t n = std::min<std::size_t>(reply_length, reply_capacity - 1);
        std::memcpy(reply, reply_buffer, n);
        reply[n] = '\0';
    }
    return 0;
}
