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
// The connection a handler of this thread answers, and its server's stop flag.
thread_local int answering_fd = -1;
thread_local const std::atomic<bool> *answering_stops = nullptr;

// What a connection answers when even an answer cannot be made: no allocation needed.
constexpr char unavailable[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nContent-Length: 57\r\n"
    "Connection: close\r\n\r\n{\"error\":\"The server is out of memory or too busy: retry.\"}";
constexpr char too_many_headers[] =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Type: application/json\r\nContent-Length: 50\r\n"
    "Connection: close\r\n\r\n{\"error\":\"The request has more than 100 headers.\"}";
constexpr char headers_too_large[] =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Type: application/json\r\nContent-Length: 56\r\n"
    "Connection: close\r\n\r\n{\"error\":\"The request's headers are larger than 32 KB.\"}";
static_assert(max_header_count == 100 && max_header_bytes == 32 * 1024, "the refusals above name the limits");

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

// Where a request's line and headers end in the bytes so far (just past the empty line), or
// why they may not go on.
struct Head {
    enum Outcome { partial, whole, too_many, too_large } outcome = partial;
    std::size_t end = 0;
};

Head measure_head(const char *bytes, std::size_t size)
{
    Head head;
    std::size_t lines = 0;
    bool empty_line = true; // a line holding nothing (but its CR) so far
    for (std::size_t i = 0; i < size && i < max_header_bytes; ++i) {
        if (bytes[i] == '\n') {
            if (empty_line && lines > 0) {
                head.outcome = Head::whole;
                head.end = i + 1;
                return head;
            }
            if (++lines > max_header_count + 1) { // the request line, then the headers
                head.outcome = Head::too_many;
                return head;
            }
            empty_line = true;
        } else if (bytes[i] != '\r') {
            empty_line = false;
        }
    }
    if (size >= max_header_bytes)
        head.outcome = Head::too_large;
    return head;
}

const char *refusal_of(const Head &head)
{
    return head.outcome == Head::too_many ? too_many_headers : headers_too_large;
}

std::int64_t ticks() { return Clock::now().time_since_epoch().count(); }

// Ends a connection whose client may still be sending (a request refused part way): the answer
// goes first, then what still arrives is read and dropped for a moment, so that closing with
// bytes unread does not reset the connection before the client has read its answer.
void end_after_answer(int fd)
{
    ::shutdown(fd, SHUT_WR);
    const auto until = Clock::now() + std::chrono::seconds(2);
    char sink[16384];
    std::size_t dropped = 0;
    while (dropped < (std::size_t(4) << 20)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0 || poll_one(fd, POLLIN, left) <= 0)
            break;
        const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n <= 0)
            break;
        dropped += static_cast<std::size_t>(n);
    }
}

// The status of an answer from its first bytes ("HTTP/1.1 400 ..."), 0 before they are known.
int status_of(const char *bytes, std::size_t size)
{
    if (size < 12 || std::memcmp(bytes, "HTTP/1.", 7) != 0)
        return 0;
    return (bytes[9] - '0') * 100 + (bytes[10] - '0') * 10 + (bytes[11] - '0');
}

// One connection, read through a buffer under the request's time limits: its line and headers
// must arrive within `headers` of its first byte and are read whole (within their limits) before
// the library parses them, its body must arrive within `body` after them, and no read waits
// longer than `gap`.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(Listener::Connection &connection, const ConnectionLimits &limits)
        : connection_(connection), fd_(connection.fd), limits_(limits)
    {
    }

    enum class Next { request, none, refused };

    // Waits for the next request and reads its line and headers.
    Next next_request()
    {
        set_phase(Listener::Connection::idle);
        if (pos_ == len_ && poll_one(fd_, POLLIN, limits_.idle) <= 0)
            return Next::none;
        set_phase(Listener::Connection::headers);
        deadline_ = Clock::now() + limits_.headers;
        written_ = 0;
        status_ = 0;
        for (;;) {
            const Head head = measure_head(buffer_ + pos_, len_ - pos_);
            if (head.outcome == Head::whole)
                break;
            if (head.outcome != Head::partial) {
                send_all(fd_, refusal_of(head), std::strlen(refusal_of(head)));
                return Next::refused;
            }
            if (pos_ > 0) { // room at the end for the rest
                std::memmove(buffer_, buffer_ + pos_, len_ - pos_);
                len_ -= pos_;
                pos_ = 0;
            }
            if (fill(len_) <= 0)
                return Next::none;
        }
        set_phase(Listener::Connection::answering);
        deadline_ = Clock::now() + limits_.body;
        return Next::request;
    }
    std::size_t written() const { return written_; }
    int status() const { return status_; }

    bool is_readable() const override { return pos_ < len_ || poll_one(fd_, POLLIN, limits_.gap) > 0; }
    bool is_writable() const override { return poll_one(fd_, POLLOUT, limits_.write) > 0; }

    ssize_t read(char *ptr, size_t size) override
    {
        if (pos_ == len_) {
            pos_ = len_ = 0;
            const ssize_t got = fill(0);
            if (got <= 0)
                return got;
        }
        const std::size_t n = std::min(size, len_ - pos_);
        std::memcpy(ptr, buffer_ + pos_, n);
        pos_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        if (written_ == 0)
            status_ = status_of(ptr, size);
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
    void set_phase(Listener::Connection::Phase phase)
    {
        connection_.since = ticks();
        connection_.phase = phase;
    }

    // Reads what has arrived into the buffer from byte `at` on, within the request's time.
    ssize_t fill(std::size_t at)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        if (left.count() <= 0 || at >= sizeof buffer_ || poll_one(fd_, POLLIN, std::min(left, limits_.gap)) <= 0)
            return -1; // too slow: the request is given up
        ssize_t n;
        do
            n = ::recv(fd_, buffer_ + at, sizeof buffer_ - at, 0);
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            return n;
        len_ = at + static_cast<std::size_t>(n);
        return n;
    }

    Listener::Connection &connection_;
    int fd_;
    const ConnectionLimits &limits_;
    char buffer_[max_header_bytes + 16384];
    std::size_t pos_ = 0, len_ = 0;
    Clock::time_point deadline_{};
    std::size_t written_ = 0;
    int status_ = 0;
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

bool answer_abandoned()
{
    if (answering_stops && *answering_stops)
        return true;
    if (answering_fd < 0)
        return false;
    pollfd p{answering_fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

std::string answer_bytes(Routes &routes, std::string_view request)
{
    const Head head = measure_head(request.data(), request.size());
    if (head.outcome == Head::too_many || head.outcome == Head::too_large)
        return refusal_of(head);
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

ramulon::Status Listener::bind(const std::string &host, int port)
{
    const std::string where = "cannot listen on " + host + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *found = nullptr;
    if (const int r = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); r != 0)
        return ramulon::fail(ramulon::ErrorKind::invalid_input, where + ": " + gai_strerror(r));
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
        return ramulon::fail(ramulon::ErrorKind::io, where + ": " + std::strerror(error ? error : EADDRNOTAVAIL));
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port
                                             : reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
    if (::pipe2(wake_, O_CLOEXEC) != 0)
        return ramulon::fail(ramulon::ErrorKind::io, where + ": " + std::strerror(errno));
    return {};
}

void Listener::run(Routes &routes, const ConnectionLimits &limits)
{
    routes_ = &routes;
    routes.listening_on(fd_);
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
        if (open_.size() - evicted_ >= limits.connections && !make_room()) {
            lock.unlock();
            send_all(fd, unavailable, sizeof unavailable - 1);
            ::close(fd);
            continue;
        }
        try {
            auto connection = std::make_shared<Connection>();
            connection->fd = fd;
            connection->since = ticks();
            open_[fd] = connection;
            std::thread([this, &routes, &limits, connection] { serve(routes, limits, connection); }).detach();
        } catch (...) { // no thread (or no memory) for it now
            open_.erase(fd);
            lock.unlock();
            send_all(fd, unavailable, sizeof unavailable - 1);
            ::close(fd);
        }
    }
}

bool Listener::make_room()
{
    Connection *oldest = nullptr;
    for (const auto &[fd, c] : open_) {
        if (c->evicted || c->phase == Connection::answering)
            continue;
        // Sending headers goes before waiting idle; the longest at it first.
        const bool sending = c->phase == Connection::headers;
        if (!oldest || sending > (oldest->phase == Connection::headers) ||
            (sending == (oldest->phase == Connection::headers) && c->since < oldest->since))
            oldest = c.get();
    }
    if (!oldest)
        return false;
    oldest->evicted = true;
    ++evicted_;
    ::shutdown(oldest->fd, SHUT_RDWR); // its thread finds the end and leaves
    return true;
}

void Listener::serve(Routes &routes, const ConnectionLimits &limits, std::shared_ptr<Connection> connection)
{
    const int fd = connection->fd;
    answering_fd = fd;
    answering_stops = &stopping_;
    try {
        ConnectionStream stream(*connection, limits);
        for (std::size_t n = 0; n < limits.requests && !stopping_; ++n) {
            const ConnectionStream::Next next = stream.next_request();
            if (next == ConnectionStream::Next::refused)
                end_after_answer(fd);
            if (next != ConnectionStream::Next::request)
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
            // A request the library could not read leaves the rest of the bytes unread: they are
            // no request of their own.
            const int status = stream.status();
            const bool unreadable = status == 400 || status == 408 || status == 413 || status == 414 || status == 431;
            if (unreadable || closing)
                end_after_answer(fd);
            if (!kept || closed || last || closing || unreadable)
                break;
        }
    } catch (...) {
        send_all(fd, unavailable, sizeof unavailable - 1);
    }
    answering_fd = -1;
    answering_stops = nullptr;
    ::shutdown(fd, SHUT_RDWR);
    std::lock_guard<std::mutex> lock(mutex_);
    ::close(fd); // under the lock: the number may be taken by the next connection at once
    if (connection->evicted)
        --evicted_;
    open_.erase(fd);
    ended_.notify_all(); // under the lock: stop() cannot return before this thread is done with it
}

void Listener::stop()
{
    if (stopping_.exchange(true))
        return;
    if (Routes *routes = routes_)
        routes->listening_on(-1); // files being sent stop at their next piece
    if (wake_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    for (const auto &[fd, connection] : open_)
        ::shutdown(fd, SHUT_RDWR);
    ended_.wait(lock, [this] { return open_.empty(); });
}

} // namespace serve
