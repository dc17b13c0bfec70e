// The service program under test, started as a real process on a free port of 127.0.0.1, and a
// raw HTTP client that sends a request target exactly as given.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qinglan::service::testing {

struct HttpReply {
    int status = 0;  // 0 when no answer came
    std::string head;
    std::string body;
    // The value of the first header of that name (any case), or empty.
    std::string header(std::string_view name) const;
};

// A socket connected to 127.0.0.1:`port`, for the caller to close; -1 when none could be had.
int connect_to_loopback(std::uint16_t port);

// GET `target` from 127.0.0.1:`port`, the target written into the request line byte for byte.
HttpReply http_get(std::uint16_t port, std::string_view target, std::string_view extra_headers = {},
                   std::chrono::milliseconds limit = std::chrono::seconds(60));

class ServiceProcess {
  public:
    // Starts the program with `args` after --listen, and `environment` ("NAME=value") added to
    // this process's own; unless told otherwise, waits until /healthz says it is ready.
    explicit ServiceProcess(std::vector<std::string> args,
                            std::vector<std::string> environment = {},
                            bool wait_until_ready = true);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    std::uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    // "http://127.0.0.1:<port>/parse.php?kw=": what the tool puts before the watch address.
    std::string base_address() const;
    // Everything the service has written on its standard error so far.
    std::string log() const;

  private:
    bool start(const std::vector<std::string>& args, const std::vector<std::string>& environment);
    void stop();

    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    std::string log_path_;
};

// A file name in a fresh private temporary directory, removed with it at exit of the test.
std::string temporary_path(std::string_view name);

}  // namespace qinglan::service::testing
