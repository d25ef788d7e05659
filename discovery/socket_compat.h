// Windows Sockets and BSD sockets behind one set of names, for the discovery sweep only.
// The sweep is written against the Windows names (closesocket, ioctlsocket); on other
// systems they map onto the BSD calls that do the same.
#pragma once

#include <cstddef>

#ifdef _WIN32
// windows.h would otherwise define min, max and "interface" as macros for everything that
// includes this header.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WINSOCK_DEPRECATED_NO_WARNINGS
#define _WINSOCK_DEPRECATED_NO_WARNINGS  // inet_addr
#endif
// winsock2.h before windows.h, or windows.h pulls in the Winsock 1 header winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace corvane::sock {

#ifdef _WIN32
using native_socket = SOCKET;
using address_length = int;
inline constexpr native_socket invalid_socket = INVALID_SOCKET;
inline constexpr int socket_error = SOCKET_ERROR;
#else
using native_socket = int;
using address_length = socklen_t;
inline constexpr native_socket invalid_socket = -1;
inline constexpr int socket_error = -1;
#endif

#ifdef _WIN32
inline int closesocket(native_socket s) {
    return ::closesocket(s);
}
inline int ioctlsocket(native_socket s, long command, unsigned long* value) {
    u_long v = static_cast<u_long>(*value);
    return ::ioctlsocket(s, command, &v);
}
#else
inline int closesocket(native_socket s) {
    return ::close(s);
}
inline int ioctlsocket(native_socket s, unsigned long command, unsigned long* value) {
    int v = static_cast<int>(*value);
    return ::ioctl(s, command, &v);
}
#endif

// A second descriptor for the same socket, closed independently of the first.
// Returns invalid_socket on failure.
inline native_socket duplicate(native_socket s) {
#ifdef _WIN32
    WSAPROTOCOL_INFOW info;
    if (WSADuplicateSocketW(s, GetCurrentProcessId(), &info) != 0) {
        return invalid_socket;
    }
    return WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                      WSA_FLAG_OVERLAPPED);
#else
    return ::fcntl(s, F_DUPFD_CLOEXEC, 0);
#endif
}

// Waits up to `milliseconds` for the socket to become readable: 1 when readable, 0 on
// time-out, -1 on error. select() as on Windows; a BSD descriptor beyond FD_SETSIZE cannot go
// into an fd_set without writing past it, so that one is waited for with poll() instead.
inline int wait_readable_ms(native_socket s, long milliseconds) {
#ifndef _WIN32
    if (s < 0) {
        return -1;
    }
    if (s >= FD_SETSIZE) {
        pollfd p{s, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(milliseconds));
        if (r > 0 && (p.revents & (POLLERR | POLLNVAL))) {
            return -1;
        }
        return r;
    }
#endif
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval timeout{};
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_usec = (milliseconds % 1000) * 1000;
#ifdef _WIN32
    int r = ::select(0, &readable, nullptr, nullptr, &timeout);
#else
    int r = ::select(s + 1, &readable, nullptr, nullptr, &timeout);
#endif
    if (r <= 0) {
        return r < 0 ? -1 : 0;
    }
    return FD_ISSET(s, &readable) ? 1 : 0;
}

// The same, for whole seconds.
inline int wait_readable(native_socket s, long seconds) {
    return wait_readable_ms(s, seconds * 1000);
}

// Reads one datagram. A datagram longer than `capacity` is consumed and reported as -1,
// as Windows does (WSAEMSGSIZE); BSD sockets would otherwise hand back its first bytes.
inline long receive_datagram(native_socket s, char* buffer, std::size_t capacity,
                             sockaddr_in* sender) {
    address_length length = sizeof(sockaddr_in);
#ifdef _WIN32
    int r = ::recvfrom(s, buffer, static_cast<int>(capacity), 0,
                       reinterpret_cast<sockaddr*>(sender), &length);
    return r;
#else
#ifdef __linux__
    // Linux: with MSG_TRUNC the result is the datagram's real length.
    ssize_t r =
        ::recvfrom(s, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(sender), &length);
    if (r > static_cast<ssize_t>(capacity)) {
        return -1;
    }
    return static_cast<long>(r);
#else
    iovec part{buffer, capacity};
    msghdr message{};
    message.msg_name = sender;
    message.msg_namelen = length;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t r = ::recvmsg(s, &message, 0);
    if (r >= 0 && (message.msg_flags & MSG_TRUNC)) {
        return -1;
    }
    return static_cast<long>(r);
#endif
#endif
}

// Sends one datagram; the result is the byte count, or -1.
inline long send_datagram(native_socket s, const char* data, std::size_t length,
                          const sockaddr_in& destination) {
#ifdef _WIN32
    return ::sendto(s, data, static_cast<int>(length), 0,
                    reinterpret_cast<const sockaddr*>(&destination),
                    static_cast<int>(sizeof(destination)));
#else
    return static_cast<long>(::sendto(
        s, data, length, 0, reinterpret_cast<const sockaddr*>(&destination), sizeof(destination)));
#endif
}

// Bounds every blocking read on the socket; used when non-blocking mode cannot be set.
inline int set_receive_timeout(native_socket s, long seconds) {
#ifdef _WIN32
    DWORD ms = static_cast<DWORD>(seconds * 1000);
    return ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
                        static_cast<address_length>(sizeof(ms)));
#else
    timeval timeout{};
    timeout.tv_sec = seconds;
    return ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
#endif
}

inline int set_int_option(native_socket s, int level, int option, int value) {
    return ::setsockopt(s, level, option, reinterpret_cast<const char*>(&value),
                        static_cast<address_length>(sizeof(value)));
}

inline int get_int_option(native_socket s, int level, int option, int* value) {
    address_length length = sizeof(*value);
    return ::getsockopt(s, level, option, reinterpret_cast<char*>(value), &length);
}

// Winsock wants a start-up call before a process's first socket call. The sweep needs none
// (Qt's socket classes make it before the sweep touches a descriptor); code that opens
// sockets by itself does. Start-ups are counted; one per process is enough.
inline bool startup() {
#ifdef _WIN32
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
#else
    return true;
#endif
}

}  // namespace corvane::sock
