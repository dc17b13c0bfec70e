#include "service/tests/service_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qinglan::service::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::uint16_t free_loopback_port() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (probe < 0 || bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("no free port on 127.0.0.1");
    }
    close(probe);
    return ntohs(address.sin_port);
}

int milliseconds_until(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

std::string HttpReply::header(std::string_view name) const {
    std::istringstream lines(head);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(':');
        if (colon != name.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; i < colon; ++i) {
            same = same && lower(line[i]) == lower(name[i]);
        }
        if (same) {
            std::string value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ')) {
                value.erase(0, 1);
            }
            while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) {
                value.pop_back();
            }
            return value;
        }
    }
    return {};
}

int connect_to_loopback(std::uint16_t port) {
    const int peer = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (peer < 0 || connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        if (peer >= 0) {
            close(peer);
        }
        return -1;
    }
    return peer;
}

HttpReply http_get(std::uint16_t port, std::string_view target, std::string_view extra_headers,
                   std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    HttpReply reply;
    const int peer = connect_to_loopback(port);
    if (peer < 0) {
        return reply;
    }
    std::string request = "GET ";
    request += target;
    request += " HTTP/1.1\r\n";
    // The extra headers may name a Host of their own.
    if (!extra_headers.starts_with("Host:") &&
        extra_headers.find("\r\nHost:") == std::string_view::npos) {
        request += "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    }
    request += extra_headers;
    request += "Connection: close\r\n\r\n";
    std::string_view rest = request;
    while (!rest.empty()) {
        const ssize_t sent = send(peer, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            close(peer);
            return reply;
        }
        rest.remove_prefix(static_cast<std::size_t>(sent));
    }
    std::string received;
    char buffer[65536];
    for (;;) {
        pollfd entry{peer, POLLIN, 0};
        if (poll(&entry, 1, milliseconds_until(deadline)) <= 0) {
            break;
        }
        const ssize_t count = recv(peer, buffer, sizeof(buffer), 0);
        if (count <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(count));
    }
    close(peer);
    const std::size_t head_end = received.find("\r\n\r\n");
    if (received.rfind("HTTP/1.", 0) != 0 || head_end == std::string::npos) {
        return reply;
    }
    reply.status = std::atoi(received.c_str() + received.find(' ') + 1);
    reply.head = received.substr(0, head_end + 2);
    reply.body = received.substr(head_end + 4);
    return reply;
}

std::string temporary_path(std::string_view name) {
    // Made on first use and removed with everything in it when the test program ends.
    struct TemporaryDirectory {
        std::string path;
        TemporaryDirectory() {
            path =
                (std::filesystem::temp_directory_path() / "qinglan-service-test-XXXXXX").string();
            if (mkdtemp(path.data()) == nullptr) {
                throw std::runtime_error("no temporary directory");
            }
        }
        ~TemporaryDirectory() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const TemporaryDirectory directory;
    return directory.path + "/" + std::string(name);
}

ServiceProcess::ServiceProcess(std::vector<std::string> args, std::vector<std::string> environment,
                               bool wait_until_ready) {
    static int serial = 0;
    log_path_ = temporary_path("service-" + std::to_string(getpid()) + "-" +
                               std::to_string(++serial) + ".log");
    // Another program may take the free port before the service binds it; then try another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (start(args, environment)) {
            break;
        }
        stop();
    }
    if (pid_ < 0) {
        throw std::runtime_error("the service did not start:\n" + log());
    }
    if (!wait_until_ready) {
        return;
    }
    const auto deadline = Clock::now() + 60s;
    while (http_get(port_, "/healthz").status != 200) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the service ended:\n" + log());
        }
        if (Clock::now() > deadline) {
            throw std::runtime_error("the service's workers never got ready:\n" + log());
        }
        std::this_thread::sleep_for(50ms);
    }
}

bool ServiceProcess::start(const std::vector<std::string>& args,
                           const std::vector<std::string>& environment) {
    port_ = free_loopback_port();
    std::vector<std::string> words = {QINGLAN_SERVICE_PROGRAM, "--listen",
                                      "127.0.0.1:" + std::to_string(port_)};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> variables(environment);
    for (char** variable = environ; *variable != nullptr; ++variable) {
        variables.emplace_back(*variable);
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_path_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int failure = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        pid_ = -1;
        return false;
    }
    // A service that cannot listen ends at once; one that can answers soon.
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        if (http_get(port_, "/healthz", {}, 1s).status != 0) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

void ServiceProcess::stop() {
    if (pid_ < 0) {
        return;
    }
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + 10s;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    pid_ = -1;
}

ServiceProcess::~ServiceProcess() {
    stop();
}

std::string ServiceProcess::base_address() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/parse.php?kw=";
}

std::string ServiceProcess::log() const {
    std::ifstream file(log_path_, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

}  // namespace qinglan::service::testing
