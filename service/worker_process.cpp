#include "service/worker_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace qinglan::service {
namespace {

int milliseconds_until(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 1'000'000 ? 1'000'000 : static_cast<int>(left);
}

// Waits until `fd` is ready for `events` or the deadline passes; true when it is ready (or has
// hung up, which the following read or write reports).
bool wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, milliseconds_until(deadline));
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            return false;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

struct SpawnSettings {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSettings() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
};

}  // namespace

std::unique_ptr<WorkerProcess> WorkerProcess::start(const std::vector<std::string>& command,
                                                    std::string& error) {
    if (command.empty()) {
        error = "no resolver program";
        return nullptr;
    }
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        error = std::string("socketpair: ") + std::strerror(errno);
        return nullptr;
    }
    const int ours = ends[0];
    const int theirs = ends[1];

    SpawnSettings settings;
    posix_spawn_file_actions_adddup2(&settings.actions, theirs, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&settings.actions, theirs, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&settings.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Nothing else goes with it: httplib does not mark the sockets it accepts close-on-exec, and
    // a long-lived worker must not keep a client's connection, or the listening port, open.
    posix_spawn_file_actions_addclosefrom_np(&settings.actions, STDERR_FILENO + 1);
    // The service blocks its stop signals in every thread; the worker starts with none blocked
    // and the default actions.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal_number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&defaults, signal_number);
    }
    posix_spawnattr_setsigmask(&settings.attributes, &none);
    posix_spawnattr_setsigdefault(&settings.attributes, &defaults);
    posix_spawnattr_setpgroup(&settings.attributes, 0);
    posix_spawnattr_setflags(
        &settings.attributes,
        static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP));

    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int failure =
        posix_spawn(&pid, argv[0], &settings.actions, &settings.attributes, argv.data(), environ);
    close(theirs);
    if (failure != 0) {
        close(ours);
        error = command[0] + ": " + std::strerror(failure);
        return nullptr;
    }
    fcntl(ours, F_SETFL, fcntl(ours, F_GETFL) | O_NONBLOCK);
    return std::unique_ptr<WorkerProcess>(new WorkerProcess(pid, ours));
}

WorkerProcess::~WorkerProcess() {
    close(channel_);
    kill_and_reap();
}

void WorkerProcess::kill_and_reap() {
    if (reaped_) {
        return;
    }
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
}

bool WorkerProcess::has_exited() {
    if (reaped_) {
        return true;
    }
    // Looks without reaping: until the worker is reaped, its process ID, and with it the ID of
    // its process group, cannot go to another process, so the group can still be killed safely.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) < 0) {
        reaped_ = errno == ECHILD;
        return reaped_;
    }
    if (info.si_pid != pid_) {
        return false;
    }
    // Whatever it started goes with it.
    kill_and_reap();
    return true;
}

WorkerProcess::ReadResult WorkerProcess::read_line(std::string& line, Clock::time_point deadline) {
    for (;;) {
        const std::size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return ReadResult::line;
        }
        if (buffer_.size() > kMaxLineBytes) {
            return ReadResult::overlong;
        }
        char chunk[65536];
        const ssize_t received = recv(channel_, chunk, sizeof(chunk), 0);
        if (received > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(received));
            continue;
        }
        if (received == 0) {
            return ReadResult::closed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return ReadResult::closed;
        }
        if (!wait_for(channel_, POLLIN, deadline)) {
            return ReadResult::timed_out;
        }
    }
}

bool WorkerProcess::write_line(std::string_view line, Clock::time_point deadline) {
    std::string data(line);
    data += '\n';
    std::string_view rest = data;
    while (!rest.empty()) {
        const ssize_t sent = send(channel_, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            rest.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            wait_for(channel_, POLLOUT, deadline)) {
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace qinglan::service
