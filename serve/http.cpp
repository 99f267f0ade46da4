#include "serve/http.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace serve {

namespace {

using Clock = std::chrono::steady_clock;

thread_local bool closing = false;

// What a connection answers when even an answer cannot be made: no allocation needed.
constexpr char unavailable[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nContent-Length: 57\r\n"
    "Connection: close\r\n\r\n{\"error\":\"The server is out of memory or too busy: retry.\"}";

void send_all(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

int poll_one(int fd, short events, std::chrono::milliseconds wait)
{
    pollfd p{fd, events, 0};
    const int ms = static_cast<int>(std::max<long long>(0, wait.count()));
    int r;
    do
        r = ::poll(&p, 1, ms);
    while (r < 0 && errno == EINTR);
    return r;
}

void address_of(int fd, bool peer, std::string &ip, int &port)
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    const int r = peer ? ::getpeername(fd, reinterpret_cast<sockaddr *>(&addr), &len)
                       : ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    if (r != 0)
        return;
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        const auto *a = reinterpret_cast<sockaddr_in *>(&addr);
        inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
        port = ntohs(a->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto *a = reinterpret_cast<sockaddr_in6 *>(&addr);
        inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
        port = ntohs(a->sin6_port);
    }
    ip = text;
}

// One connection, read through a buffer under the request's time limits: its line and headers
// must arrive within `headers` of its first byte, its body within `body` after them, and no
// read waits longer than `gap`.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(int fd, const ConnectionLimits &limits) : fd_(fd), limits_(limits) {}

    // Waits for the next request's first byte; false when none comes in time.
    bool next_request()
    {
        if (pos_ == len_ && poll_one(fd_, POLLIN, limits_.idle) <= 0)
            return false;
        in_headers_ = true;
        newline_ = false;
        deadline_ = Clock::now() + limits_.headers;
        written_ = 0;
        return true;
    }
    std::size_t written() const { return written_; }

    bool is_readable() const override { return pos_ < len_ || poll_one(fd_, POLLIN, limits_.gap) > 0; }
    bool is_writable() const override { return poll_one(fd_, POLLOUT, limits_.write) > 0; }

    ssize_t read(char *ptr, size_t size) override
    {
        if (pos_ == len_) {
            const ssize_t got = fill();
            if (got <= 0)
                return got;
        }
        const std::size_t n = std::min(size, len_ - pos_);
        std::memcpy(ptr, buffer_ + pos_, n);
        pos_ += n;
        if (in_headers_)
            watch_for_header_end(ptr, n);
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        std::size_t left = size;
        while (left > 0) {
            if (poll_one(fd_, POLLOUT, limits_.write) <= 0)
                return -1;
            const ssize_t n = ::send(fd_, ptr, left, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return -1;
            ptr += n;
            left -= static_cast<std::size_t>(n);
            written_ += static_cast<std::size_t>(n);
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { address_of(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { address_of(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    ssize_t fill()
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        if (left.count() <= 0 || poll_one(fd_, POLLIN, std::min(left, limits_.gap)) <= 0)
            return -1; // too slow: the request is given up
        ssize_t n;
        do
            n = ::recv(fd_, buffer_, sizeof buffer_, 0);
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            return n;
        pos_ = 0;
        len_ = static_cast<std::size_t>(n);
        return n;
    }

    // The headers end at the first empty line; the body's own time starts there.
    void watch_for_header_end(const char *bytes, std::size_t n)
    {
        for (std::size_t i = 0; i < n && in_headers_; ++i) {
            if (bytes[i] == '\n') {
                if (newline_) {
                    in_headers_ = false;
                    deadline_ = Clock::now() + limits_.body;
                }
                newline_ = true;
            } else if (bytes[i] != '\r') {
                newline_ = false;
            }
        }
    }

    int fd_;
    const ConnectionLimits &limits_;
    char buffer_[16384];
    std::size_t pos_ = 0, len_ = 0;
    bool in_headers_ = true, newline_ = false;
    Clock::time_point deadline_{};
    std::size_t written_ = 0;
};

// Request bytes in memory, the answer collected: one request, then the connection closes.
class BytesStream : public httplib::Stream {
public:
    explicit BytesStream(std::string_view in) : in_(in) {}
    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char *ptr, size_t size) override
    {
        const std::size_t n = std::min(size, in_.size());
        std::memcpy(ptr, in_.data(), n);
        in_.remove_prefix(n);
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char *ptr, size_t size) override
    {
        out.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string &ip, int &port) const override { ip = "127.0.0.1", port = 40000; }
    void get_local_ip_and_port(std::string &ip, int &port) const override { ip = "127.0.0.1", port = 8080; }
    socket_t socket() const override { return 0; }
    std::string out;

private:
    std::string_view in_;
};

} // namespace

void close_after_this_answer() { closing = true; }

std::string answer_bytes(Routes &routes, std::string_view request)
{
    BytesStream stream(request);
    bool closed = false;
    try {
        routes.answer(stream, true, closed);
    } catch (...) {
        if (stream.out.empty())
            stream.out = unavailable;
    }
    return stream.out;
}

Listener::~Listener()
{
    stop();
    for (int fd : {fd_, wake_[0], wake_[1]})
        if (fd >= 0)
            ::close(fd);
}

std::string Listener::bind(const std::string &host, int port)
{
    const std::string where = "cannot listen on " + host + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *found = nullptr;
    if (const int r = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); r != 0)
        return where + ": " + gai_strerror(r);
    int error = 0;
    for (addrinfo *a = found; a && fd_ < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        // Reuse an address only after its last server has gone: never share a port another
        // server still listens on.
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 64) == 0) {
            fd_ = fd;
        } else {
            error = errno;
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);
    if (fd_ < 0)
        return where + ": " + std::strerror(error ? error : EADDRNOTAVAIL);
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port
                                             : reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
    if (::pipe2(wake_, O_CLOEXEC) != 0)
        return where + ": " + std::strerror(errno);
    return {};
}

void Listener::run(Routes &routes, const ConnectionLimits &limits)
{
    while (!stopping_) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (stopping_ || (p[1].revents & POLLIN))
            break;
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(50)); // until some close
            continue;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (open_.size() >= limits.connections) {
            lock.unlock();
            send_all(fd, unavailable, sizeof unavailable - 1);
            ::close(fd);
            continue;
        }
        try {
            open_.insert(fd);
            std::thread([this, &routes, &limits, fd] { serve(routes, limits, fd); }).detach();
        } catch (...) { // no thread (or no memory) for it now
            open_.erase(fd);
            lock.unlock();
            send_all(fd, unavailable, sizeof unavailable - 1);
            ::close(fd);
        }
    }
}

void Listener::serve(Routes &routes, const ConnectionLimits &limits, int fd)
{
    try {
        ConnectionStream stream(fd, limits);
        for (std::size_t n = 0; n < limits.requests && !stopping_; ++n) {
            if (!stream.next_request())
                break;
            const bool last = n + 1 == limits.requests;
            bool closed = false;
            bool kept = false;
            closing = false;
            try {
                kept = routes.answer(stream, last, closed);
            } catch (...) {
                // Out of memory (or anything else) outside the handlers: the answer, if it was
                // not begun, says so; the connection ends either way.
                if (stream.written() == 0)
                    send_all(fd, unavailable, sizeof unavailable - 1);
            }
            if (!kept || closed || last || closing)
                break;
        }
    } catch (...) {
        send_all(fd, unavailable, sizeof unavailable - 1);
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(fd);
    ended_.notify_all(); // under the lock: stop() cannot return before this thread is done with it
}

void Listener::stop()
{
    if (stopping_.exchange(true))
        return;
    if (wake_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    for (int fd : open_)
        ::shutdown(fd, SHUT_RDWR);
    ended_.wait(lock, [this] { return open_.empty(); });
}

} // namespace serve
