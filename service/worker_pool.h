// A small pool of long-lived resolver workers, so that a resolve costs what the resolve itself
// costs and not the start of a new resolver.
//
// There is one worker per slot, so at most `workers` resolves run at once. A request waits for a
// free worker until its start-by time and is answered "busy" otherwise; once started it has the
// time limit. A worker that overruns it, hangs, dies or answers nonsense is killed and a new one
// is started in its place at once, so that it is warm by the time the next request needs it.
//
// The line protocol: a worker first writes {"ready": true, "version": "…"} when it can take
// requests; then for every request line (one JSON object) it writes one answer line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "service/worker_process.h"

namespace qinglan::service {

struct PoolOptions {
    std::vector<std::string> command;  // the resolver program and its arguments
    std::size_t workers = 2;
    std::chrono::milliseconds time_limit{30'000};
};

struct PoolAnswer {
    enum class Kind {
        reply,      // the worker answered; `reply` holds its answer
        busy,       // no worker became free by the start-by time
        timed_out,  // the worker overran the time limit and was killed
        crashed,    // the worker died, could not be started or answered nonsense
    };
    Kind kind = Kind::crashed;
    nlohmann::json reply;
    std::string detail;  // what went wrong, for the log
};

class WorkerPool {
  public:
    // Starts every worker; they get ready in the background.
    explicit WorkerPool(PoolOptions options);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs `request` on a free worker; waits for one until `start_by`.
    PoolAnswer resolve(const nlohmann::json& request, Clock::time_point start_by);

    struct Health {
        std::size_t ready = 0;  // workers that have said they are ready
        std::size_t workers = 0;
        std::string version;  // what the workers last reported about themselves
    };
    // Also restarts a worker that died while idle.
    Health health();

    const PoolOptions& options() const { return options_; }

  private:
    struct Slot {
        std::unique_ptr<WorkerProcess> process;
        bool ready = false;
        bool in_use = false;
    };

    // A slot's worker while a request has it.
    struct Taken {
        std::unique_ptr<WorkerProcess> process;
        bool ready = false;
    };

    std::unique_ptr<WorkerProcess> start_worker();
    bool await_ready(WorkerProcess& process, Clock::time_point deadline);
    PoolAnswer run(Taken& worker, const nlohmann::json& request);

    PoolOptions options_;
    std::mutex mutex_;
    std::condition_variable slot_freed_;
    std::vector<Slot> slots_;
    std::string version_;
};

}  // namespace qinglan::service
