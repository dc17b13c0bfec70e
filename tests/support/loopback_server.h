// A real HTTP server on 127.0.0.1 for tests: it records each request head as raw bytes and lets
// the test answer with any bytes at all (well-formed responses, stalls, broken ones).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qinglan::testing {

struct RecordedRequest {
    std::string request_line;  // e.g. "GET /parse.php?kw=x HTTP/1.1", raw bytes
    std::string head;          // the request line and all headers, raw bytes
};

class LoopbackServer;

// One accepted connection, handed to the test's handler.
class Connection {
  public:
    // Sends bytes as they stand; false once the peer has gone.
    bool send(std::string_view bytes);
    // Blocks until the server is being stopped or `limit` has passed: a peer that never answers.
    void stall(std::chrono::milliseconds limit = std::chrono::hours(1));

  private:
    friend class LoopbackServer;
    Connection(std::intptr_t socket, LoopbackServer& server) : socket_(socket), server_(server) {}
    std::intptr_t socket_;
    LoopbackServer& server_;
};

using Handler = std::function<void(const RecordedRequest&, Connection&)>;

// A complete HTTP/1.1 response that closes the connection.
std::string http_response(int status, std::string_view body, std::string_view extra_headers = {});

class LoopbackServer {
  public:
    // Listens on a free port of 127.0.0.1 and serves connections one at a time.
    explicit LoopbackServer(Handler handler);
    // Answers every request with status 200 and this body.
    static LoopbackServer serving(std::string body);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string origin() const;
    std::vector<RecordedRequest> requests() const;

  private:
    friend class Connection;
    void serve();
    void serve_connection(std::intptr_t socket);
    bool stopping() const;

    Handler handler_;
    std::intptr_t listener_;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable stop_signal_;
    bool stop_ = false;
    std::vector<RecordedRequest> requests_;
    std::thread thread_;
};

}  // namespace qinglan::testing
