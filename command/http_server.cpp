#include "command/http_server.h"

#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cstdio>
#include <cstring>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "json/json_document.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;

std::atomic<std::int32_t> service_state{1};

namespace {

// Event codes as the log prints them; readers of the log know the events by these numbers.
constexpr int kEvAccept = 1;         // a connection was accepted
constexpr int kEvRecv = 3;           // bytes arrived on a connection
constexpr int kEvClose = 5;          // a connection closed, for any reason
constexpr int kEvHttpRequest = 100;  // a complete request has been read

constexpr std::size_t kAnswerSize = 1048576;
constexpr std::size_t kStackCopySize = 4096;
constexpr auto kPollTime = std::chrono::milliseconds(200);
constexpr auto kLingerTime = std::chrono::milliseconds(2000);
constexpr std::size_t kReadChunk = 16 * 1024;

// Both replies carry the same type and cross-origin headers, so a browser page may call us.
#define CORVANE_REPLY_HEADERS                                         \
    "Content-Type: application/json\r\n"                              \
    "Access-Control-Allow-Origin: *\r\n"                              \
    "Access-Control-Max-Age: 3600\r\n"                                \
    "Access-Control-Allow-Headers: X-Requested-With,content-type\r\n" \
    "Access-Control-Allow-Methods: GET,POST,OPTIONS,DELETE\r\n"       \
    "Access-Control-Allow-Credentials:true\r\n"

const char kReplyOkHead[] =
    "HTTP/1.1 200 OK\r\n" CORVANE_REPLY_HEADERS "Content-Length: %d\r\n\r\n";

const char kReplyBadRequest[] =
    "HTTP/1.1 400 bad request\r\n" CORVANE_REPLY_HEADERS "Content-Length: 0\r\n\r\n";

#undef CORVANE_REPLY_HEADERS

const char kReplyContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

std::mutex control_mutex;  // serialises start and stop
HttpServiceLimits configured_limits;
std::future<void> service_finished;

std::atomic<HttpServiceLogSink> log_sink{nullptr};

// The service log goes to standard output without line ends; flushed so that it shows at once.
template <class... Args>
void log(const char* format, Args... args) {
    const HttpServiceLogSink sink = log_sink.load();
    if (sink == nullptr) {
        std::printf(format, args...);
        std::fflush(stdout);
        return;
    }
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0)
        return;
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    sink(text.data(), static_cast<std::size_t>(length));
}

void log_location(int line) {
    log("%s:%d", "http_server", line);
}

// Length of the well-formed UTF-8 sequence at text[at], with its code point; 0 when the bytes
// there are none.
std::size_t utf8_sequence(std::string_view text, std::size_t at, char32_t& code) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    // The second byte's range, narrower after some leads: it rules out over-long forms,
    // surrogates and code points beyond U+10FFFF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[at + k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
            return 0;
        code = (code << 6) | (next & 0x3Fu);
    }
    return length;
}

// Peer text as the log shows it. Whoever reaches the port writes here, and the log goes to the
// operator's terminal: control characters (C0, DEL, C1), the bidirectional controls and bytes
// that are no part of a UTF-8 character appear as \xNN, so no escape sequence gets through.
// `keep_layout` keeps line ends and tabs, the layout of a text the tool wrote itself.
std::string log_text(std::string_view text, bool keep_layout) {
    static const char hex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        char32_t code = 0;
        std::size_t length = utf8_sequence(text, at, code);
        const bool control = code < 0x20 || (code >= 0x7F && code <= 0x9F) ||
                             (code >= 0x202A && code <= 0x202E) ||
                             (code >= 0x2066 && code <= 0x2069);
        const bool layout = keep_layout && (code == '\n' || code == '\t');
        if (length > 0 && (!control || layout)) {
            shown.append(text.substr(at, length));
            at += length;
            continue;
        }
        // A byte that is no part of a character is escaped alone.
        const std::size_t end = at + std::max<std::size_t>(length, 1);
        for (; at < end; ++at) {
            const unsigned char byte = static_cast<unsigned char>(text[at]);
            shown += "\\x";
            shown += hex[byte >> 4];
            shown += hex[byte & 0x0F];
        }
    }
    return shown;
}

// Reads the command from a request body and writes the answer, if there is one, into
// `answer` (no NUL); *answer_length stays 0 when there is none.
void handle_body(const char* body, int length, char* answer, int* answer_length) {
    if (body == nullptr || length <= 0 || answer == nullptr || answer_length == nullptr) {
        log_location(49);
        return;
    }
    char stack_copy[kStackCopySize + 1] = {};
    std::unique_ptr<char[]> heap_copy;
    char* text = stack_copy;
    if (static_cast<std::size_t>(length) > kStackCopySize) {
        heap_copy.reset(new (std::nothrow) char[static_cast<std::size_t>(length) + 2]());
        if (!heap_copy) {
            log_location(60);
            return;
        }
        text = heap_copy.get();
    }
    std::memcpy(text, body, static_cast<std::size_t>(length));
    text[length] = '\0';
    log("ptHttpMs %s, len=%d", log_text(text, false).c_str(), length);

    neb::CJsonObject command;
    command.FromText(text);  // up to the first NUL
    std::int32_t code = 0;
    command.ReadInt32("ProtocolCode", code);
    if (code == service_command_code) {
        neb::CJsonObject ack;
        ack.PutString("ProtocolCode", "OKK");
        const std::string pretty = ack.PrettyText();
        const std::size_t n = std::min(pretty.size(), kAnswerSize);
        std::memcpy(answer, pretty.data(), n);
        *answer_length = static_cast<int>(n);
    } else {
        log("unknwn cmd %d (%s)", code, log_text(command.PrettyText(), true).c_str());
    }
}

// The bytes to send for one complete request.
std::string answer_request(const std::string& body) {
    if (body.empty())
        return kReplyBadRequest;
    std::unique_ptr<char[]> answer(new (std::nothrow) char[kAnswerSize]);
    int answer_length = 0;
    handle_body(body.data(), static_cast<int>(body.size()), answer.get(), &answer_length);
    if (!answer || answer_length <= 0) {
        log_location(144);
        return kReplyBadRequest;
    }
    log_location(135);
    char head[sizeof kReplyOkHead + 16];
    std::snprintf(head, sizeof head, kReplyOkHead, answer_length);
    std::string reply(head);
    reply.append(answer.get(), static_cast<std::size_t>(answer_length));
    return reply;
}

#ifdef _WIN32
// SO_EXCLUSIVEADDRUSE in the form Asio's set_option takes.
class ExclusiveAddressUse {
public:
    explicit ExclusiveAddressUse(bool on) : value_(on ? 1 : 0) {}
    template <class Protocol>
    int level(const Protocol&) const {
        return SOL_SOCKET;
    }
    template <class Protocol>
    int name(const Protocol&) const {
        return SO_EXCLUSIVEADDRUSE;
    }
    template <class Protocol>
    const void* data(const Protocol&) const {
        return &value_;
    }
    template <class Protocol>
    std::size_t size(const Protocol&) const {
        return sizeof(value_);
    }

private:
    int value_;  // a BOOL to Windows
};
#endif

class Service;

// One client connection. All of it runs on the service thread.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Service& service, tcp::socket socket);
    void start();
    void close();
    std::list<std::shared_ptr<Connection>>::iterator position;

private:
    bool event(int code);
    void new_parser();
    void arm_deadline(std::chrono::steady_clock::duration after);
    void read();
    void process();
    void send(std::string bytes, bool close_after);
    void reject();
    void linger();

    Service& service_;
    tcp::socket socket_;
    net::steady_timer deadline_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::string out_;
    bool continue_sent_ = false;
    bool closed_ = false;
    bool lingering_ = false;
    char drain_[4096];
};

// The listening socket, the connections and the io_context that plays the event manager.
class Service {
public:
    explicit Service(const HttpServiceLimits& limits)
        : limits(limits), acceptor_(ioc), retry_(ioc) {}

    bool bind(unsigned port) {
        if (port > 65535)
            return false;
        beast::error_code ec;
        const tcp::endpoint endpoint(tcp::v4(), static_cast<unsigned short>(port));
        acceptor_.open(endpoint.protocol(), ec);
#ifdef _WIN32
        // Windows lets a second program bind a port held with SO_REUSEADDR, and requests would
        // be split between the two: hold it exclusively, so that a port in use fails the start.
        if (!ec)
            acceptor_.set_option(net::socket_base::reuse_address(false), ec);
        if (!ec)
            acceptor_.set_option(ExclusiveAddressUse(true), ec);
#else
        // Elsewhere the option only lets a restart bind over connections still in TIME_WAIT;
        // a port another socket listens on stays refused.
        if (!ec)
            acceptor_.set_option(net::socket_base::reuse_address(true), ec);
#endif
        if (!ec)
            acceptor_.bind(endpoint, ec);
        if (!ec)
            acceptor_.listen(net::socket_base::max_listen_connections, ec);
        return !ec;
    }

    void run() {
        accept();
        while (service_state == 0) {
            try {
                ioc.restart();
                ioc.run_for(kPollTime);
            } catch (const std::exception&) {
                // A handler failed (memory); its connection is lost, the service goes on.
            }
        }
        shutdown();
    }

    // Most recently active at the back.
    void touch(Connection& c) {
        connections.splice(connections.end(), connections, c.position);
    }
    void forget(Connection& c) {
        connections.erase(c.position);
    }

    net::io_context ioc{1};
    const HttpServiceLimits limits;
    std::list<std::shared_ptr<Connection>> connections;

private:
    void accept() {
        acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted || !acceptor_.is_open())
                return;
            if (ec) {
                // Out of descriptors or similar: try again shortly instead of spinning.
                retry_.expires_after(std::chrono::milliseconds(100));
                retry_.async_wait([this](beast::error_code wait_ec) {
                    if (!wait_ec)
                        accept();
                });
                return;
            }
            // Listen on before anything here can fail, so that the service keeps accepting.
            accept();
            if (connections.size() >= limits.max_connections && !connections.empty())
                connections.front()->close();
            auto connection = std::make_shared<Connection>(*this, std::move(socket));
            connections.push_back(connection);
            connection->position = std::prev(connections.end());
            connection->start();
        });
    }

    // Freeing the manager: every connection closes, then the cancelled work drains.
    void shutdown() {
        beast::error_code ignored;
        acceptor_.close(ignored);
        retry_.cancel();
        while (!connections.empty())
            connections.front()->close();
        try {
            ioc.restart();
            ioc.run_for(std::chrono::seconds(2));
        } catch (const std::exception&) {
        }
    }

    tcp::acceptor acceptor_;
    net::steady_timer retry_;
};

Connection::Connection(Service& service, tcp::socket socket)
    : service_(service), socket_(std::move(socket)), deadline_(service.ioc) {
    buffer_.max_size(service.limits.max_header_bytes + kReadChunk);
}

// Logs the event; a stopping service closes the connection instead of handling it. False when
// the connection is done with.
bool Connection::event(int code) {
    log("_iEvent = %d ", code);
    if (service_state != 0) {
        close();
        return false;
    }
    return !closed_;
}

void Connection::start() {
    beast::error_code ignored;
    socket_.set_option(tcp::no_delay(true), ignored);
    if (!event(kEvAccept))
        return;
    new_parser();
    arm_deadline(service_.limits.request_timeout);
    read();
}

void Connection::close() {
    if (closed_)
        return;
    closed_ = true;
    auto self = shared_from_this();
    beast::error_code ignored;
    socket_.close(ignored);
    deadline_.cancel();
    service_.forget(*this);
    log("_iEvent = %d ", kEvClose);
    if (service_state == 0)
        log("Client close _iEvent = %d", kEvClose);
}

void Connection::new_parser() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(service_.limits.max_header_bytes));
    parser_->body_limit(service_.limits.max_body_bytes);
    continue_sent_ = false;
}

void Connection::arm_deadline(std::chrono::steady_clock::duration after) {
    deadline_.expires_after(after);
    deadline_.async_wait([self = shared_from_this()](beast::error_code ec) {
        // A wait that completed just before the deadline moved on is not the current one.
        if (!ec && !self->closed_ &&
            self->deadline_.expiry() <= net::steady_timer::clock_type::now())
            self->close();
    });
}

void Connection::read() {
    const std::size_t room = buffer_.max_size() - buffer_.size();
    if (room == 0)
        return reject();
    socket_.async_read_some(
        buffer_.prepare(std::min(room, kReadChunk)),
        [self = shared_from_this()](beast::error_code ec, std::size_t n) {
            if (self->closed_)
                return;
            if (ec)
                return self->close();  // the client closed, or the connection broke
            self->buffer_.commit(n);
            // Reading counts as activity: a client busy sending a large body is not the
            // least recently active one.
            self->service_.touch(*self);
            if (!self->event(kEvRecv))
                return;
            self->process();
        });
}

// Feeds what has arrived to the parser; answers a complete request or reads on.
void Connection::process() {
    while (buffer_.size() > 0 && !parser_->is_done()) {
        beast::error_code ec;
        const std::size_t used = parser_->put(buffer_.data(), ec);
        buffer_.consume(used);
        if (ec == http::error::need_more)
            break;
        if (ec)
            return reject();  // malformed, or beyond the header or body limit
        if (parser_->is_header_done() && !parser_->is_done() && !continue_sent_ &&
            beast::iequals(parser_->get()[http::field::expect], "100-continue")) {
            // The client waits for leave to send its body.
            continue_sent_ = true;
            out_ = kReplyContinue;
            net::async_write(socket_, net::buffer(out_),
                             [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                 if (self->closed_)
                                     return;
                                 if (ec)
                                     return self->close();
                                 self->process();
                             });
            return;
        }
    }
    if (!parser_->is_done())
        return read();

    if (!event(kEvHttpRequest))
        return;
    const bool keep_alive = parser_->get().keep_alive();
    const std::string reply = answer_request(parser_->get().body());
    send(reply, !keep_alive);
}

void Connection::send(std::string bytes, bool close_after) {
    out_ = std::move(bytes);
    net::async_write(socket_, net::buffer(out_),
                     [self = shared_from_this(), close_after](beast::error_code ec, std::size_t) {
                         if (self->closed_)
                             return;
                         if (ec)
                             return self->close();
                         if (close_after)
                             return self->linger();
                         // Ready for the next request on this connection.
                         self->service_.touch(*self);
                         self->new_parser();
                         self->arm_deadline(self->service_.limits.request_timeout);
                         if (self->buffer_.size() > 0)
                             self->process();
                         else
                             self->read();
                     });
}

// A request the service will not read: the bad-request reply, then the connection ends.
void Connection::reject() {
    send(kReplyBadRequest, true);
}

// Ends the connection after the last reply: stop sending, then discard what the client still
// sends until it closes (bounded in time), so that the reply is not lost to a reset.
void Connection::linger() {
    if (!lingering_) {
        lingering_ = true;
        beast::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        arm_deadline(std::min<std::chrono::steady_clock::duration>(
            kLingerTime, service_.limits.request_timeout));
    }
    socket_.async_read_some(net::buffer(drain_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                if (self->closed_)
                                    return;
                                if (ec)
                                    return self->close();
                                self->linger();
                            });
}

}  // namespace

int start_http_service(unsigned port) {
    const std::lock_guard<std::mutex> lock(control_mutex);
    if (service_state == 0)
        return 0;
    service_state = 0;
    char port_text[16];
    std::snprintf(port_text, sizeof port_text, "%d", static_cast<int>(port));

    auto service = std::make_shared<Service>(configured_limits);
    if (!service->bind(port)) {
        log("Error starting server on port %s", port_text);
        service_state = 2;
        return -1;
    }
    std::promise<void> finished;
    service_finished = finished.get_future();
    std::thread([service = std::move(service), finished = std::move(finished)]() mutable {
        service->run();
        service.reset();
        service_state = 2;
        finished.set_value();
    }).detach();
    return 0;
}

void stop_http_service() {
    const std::lock_guard<std::mutex> lock(control_mutex);
    if (!service_finished.valid())
        return;
    std::int32_t running = 0;
    service_state.compare_exchange_strong(running, 1);
    service_finished.wait();
    service_finished = {};
}

void set_http_service_log_sink(HttpServiceLogSink sink) {
    log_sink.store(sink);
}

void set_http_service_limits(const HttpServiceLimits& limits) {
    const std::lock_guard<std::mutex> lock(control_mutex);
    configured_limits = limits;
}

HttpServiceLimits http_service_limits() {
    const std::lock_guard<std::mutex> lock(control_mutex);
    return configured_limits;
}
