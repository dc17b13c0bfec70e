// One resolver worker: a child process that reads one request per line on its standard input
// and writes one answer per line on its standard output.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qinglan::service {

using Clock = std::chrono::steady_clock;

class WorkerProcess {
  public:
    // Starts `command` (program path first) with standard input and output on a socket pair and
    // standard error on /dev/null, in a process group of its own, so that killing it also ends
    // anything it started and a Ctrl-C at the service's terminal reaches only the service.
    // Null, with `error` set, when it cannot be started.
    static std::unique_ptr<WorkerProcess> start(const std::vector<std::string>& command,
                                                std::string& error);

    // Kills the process group and reaps the worker.
    ~WorkerProcess();
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    pid_t pid() const { return pid_; }

    // True once the worker has ended; reaps it.
    bool has_exited();

    enum class ReadResult { line, timed_out, closed, overlong };
    // Reads one line, without its line feed, waiting until `deadline` at most (a deadline in the
    // past only looks at what has already arrived).
    ReadResult read_line(std::string& line, Clock::time_point deadline);

    // Writes `line` and a line feed; false when the worker is gone or `deadline` passes.
    bool write_line(std::string_view line, Clock::time_point deadline);

    // The longest line that read_line accepts.
    static constexpr std::size_t kMaxLineBytes = 32u << 20;

  private:
    WorkerProcess(pid_t pid, int channel) : pid_(pid), channel_(channel) {}
    void kill_and_reap();

    pid_t pid_;
    int channel_;
    bool reaped_ = false;
    std::string buffer_;
};

}  // namespace qinglan::service
