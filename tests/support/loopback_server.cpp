#include "tests/support/loopback_server.h"

#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketHandle = SOCKET;
constexpr SocketHandle kNoSocket = INVALID_SOCKET;
void close_socket(SocketHandle s) {
    closesocket(s);
}
using IoSize = int;
constexpr int kSendFlags = 0;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;
void close_socket(SocketHandle s) {
    close(s);
}
using IoSize = std::size_t;
// A peer that hangs up early must not end the test process with SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

namespace qinglan::testing {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr std::size_t kMaxHeadBytes = 64 * 1024;

#ifdef _WIN32
struct WinsockSession {
    WinsockSession() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { WSACleanup(); }
};
void ensure_sockets() {
    static WinsockSession session;
}
#else
void ensure_sockets() {}
#endif

SocketHandle as_socket(std::intptr_t value) {
    return static_cast<SocketHandle>(value);
}

// True when the socket has something to read within one poll interval.
bool readable_soon(SocketHandle s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{0, static_cast<long>(kPollInterval.count() * 1000)};
    return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &wait) > 0;
}

std::string request_line_of(const std::string& head) {
    return head.substr(0, head.find("\r\n"));
}

const char* reason_of(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

std::string http_response(int status, std::string_view body, std::string_view extra_headers) {
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + reason_of(status) + "\r\n";
    response += "Content-Type: text/html\r\n";
    response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    response += "Connection: close\r\n";
    response += extra_headers;
    response += "\r\n";
    response += body;
    return response;
}

bool Connection::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto sent =
            ::send(as_socket(socket_), bytes.data(), static_cast<IoSize>(bytes.size()), kSendFlags);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void Connection::stall(std::chrono::milliseconds limit) {
    std::unique_lock lock(server_.mutex_);
    server_.stop_signal_.wait_for(lock, limit, [this] { return server_.stop_; });
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    ensure_sockets();
    const SocketHandle listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == kNoSocket) {
        throw std::runtime_error("no socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        close_socket(listener);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    listener_ = static_cast<std::intptr_t>(listener);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackServer LoopbackServer::serving(std::string body) {
    return LoopbackServer([body = std::move(body)](const RecordedRequest&, Connection& peer) {
        peer.send(http_response(200, body));
    });
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stop_signal_.notify_all();
    thread_.join();
    close_socket(as_socket(listener_));
}

std::string LoopbackServer::origin() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackServer::stopping() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

void LoopbackServer::serve() {
    while (!stopping()) {
        if (!readable_soon(as_socket(listener_))) {
            continue;
        }
        const SocketHandle peer = accept(as_socket(listener_), nullptr, nullptr);
        if (peer != kNoSocket) {
            serve_connection(static_cast<std::intptr_t>(peer));
            close_socket(peer);
        }
    }
}

void LoopbackServer::serve_connection(std::intptr_t socket) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHeadBytes) {
        if (stopping()) {
            return;
        }
        if (!readable_soon(as_socket(socket))) {
            continue;
        }
        const auto received = recv(as_socket(socket), buffer, sizeof(buffer), 0);
        if (received <= 0) {
            return;
        }
        head.append(buffer, static_cast<std::size_t>(received));
    }
    RecordedRequest request{request_line_of(head), head.substr(0, head.find("\r\n\r\n") + 4)};
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    Connection connection(socket, *this);
    handler_(request, connection);
}

}  // namespace qinglan::testing
