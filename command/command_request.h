// One synchronous JSON command exchange with a device over HTTP.
#pragma once

#include <cstddef>

// Posts `body` (the command's JSON text) to port 80, path "/", of `address` (a dotted IPv4
// address, optionally followed by ":port") and waits for the reply, or until three polls of
// 500 ms have passed without any socket activity.
//
// The reply body is copied to `reply` (which may be null when the caller does not want it):
// at most reply_capacity - 1 bytes, followed by a NUL, so the result is always a text. An empty
// text means no reply. The HTTP status is not examined. Bodies longer than 1 MiB are cut there.
// An empty or null body is sent as "GET / HTTP/1.1" with "Content-Length: 0".
// Host names are not resolved: an address that is not numeric gets an empty reply at once.
//
// Returns 0 in every case; all calls in the process are serialised.
int send_http_cmd(const char* address, const char* body, char* reply, std::size_t reply_capacity);

// The bound on a whole request unless set_request_time_limit says otherwise.
inline constexpr long kDefaultRequestLimitMs = 10000;

// Bounds every later request of the process as a whole: once `milliseconds` have passed since
// it started, it ends like one that got no reply, even while the device keeps sending (10 s
// unless set). With 0 there is no bound, and a device that answers a few bytes at a time holds
// the caller for as long as it keeps sending; the wait for a silent device is the three empty
// polls either way. Waits for a request in progress to end.
void set_request_time_limit(long milliseconds);
