// The tool's own HTTP service: answers the JSON command 1000 with a fixed acknowledgement,
// every other request with a bad-request reply, all with permissive cross-origin headers.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

// The one command the service acknowledges.
inline constexpr std::int32_t service_command_code = 1000;

// 0 running, 1 not running (the initial value), 2 stopped (thread ended or start failed).
extern std::atomic<std::int32_t> service_state;

// Starts the service on `port` of every local IPv4 interface in a thread of its own.
// Returns 0 when it runs (also when it already ran); -1 when the port cannot be bound, after
// writing "Error starting server on port <port>" to standard output (state 2).
int start_http_service(unsigned port);

// Stops a running service and waits until its thread has closed every connection (state 2).
// The application never stops the service; this exists for tests and benchmarks.
void stop_http_service();

// What one client may hold of the service. The service listens on every interface, so no
// client may exhaust its memory, its connections or its thread.
struct HttpServiceLimits {
    std::size_t max_header_bytes = 8 * 1024;   // request line and headers
    std::size_t max_body_bytes = 1024 * 1024;  // larger: bad-request reply, connection closed
    std::size_t max_connections = 32;          // beyond: the least recently active is closed
    // Time a connection has for each request, from its opening or the previous reply until
    // its reply is written; idle and slow connections are closed when it runs out.
    std::chrono::milliseconds request_timeout{10000};
};

// Receives each text of the service's log (no NUL, no line end added) instead of standard
// output; null gives standard output back. Called on the service thread and on the caller's.
using HttpServiceLogSink = void (*)(const char* text, std::size_t length);
void set_http_service_log_sink(HttpServiceLogSink sink);

// Takes effect at the next start. Tests use it to shorten the time-out.
void set_http_service_limits(const HttpServiceLimits& limits);
HttpServiceLimits http_service_limits();
