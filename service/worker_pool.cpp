#include "service/worker_pool.h"

#include <algorithm>

namespace qinglan::service {

using nlohmann::json;

namespace {

// The worker's first line: {"ready": true, "version": "…"}, or {"ready": false, "error": "…"}
// from a worker that cannot work; `version` gets what it says about itself.
bool is_ready_line(const std::string& line, std::string& version) {
    const json hello = json::parse(line, nullptr, false);
    if (!hello.is_object()) {
        return false;
    }
    const auto ready = hello.find("ready");
    const bool is_ready = ready != hello.end() && ready->is_boolean() && ready->get<bool>();
    const auto reported = hello.find(is_ready ? "version" : "error");
    if (reported != hello.end() && reported->is_string()) {
        version = (is_ready ? "" : "not ready: ") + reported->get<std::string>();
    }
    return is_ready;
}

}  // namespace

WorkerPool::WorkerPool(PoolOptions options) : options_(std::move(options)) {
    slots_.resize(std::max<std::size_t>(options_.workers, 1));
    for (Slot& slot : slots_) {
        slot.process = start_worker();
    }
}

WorkerPool::~WorkerPool() = default;

std::unique_ptr<WorkerProcess> WorkerPool::start_worker() {
    std::string error;
    return WorkerProcess::start(options_.command, error);
}

bool WorkerPool::await_ready(WorkerProcess& process, Clock::time_point deadline) {
    std::string line;
    if (process.read_line(line, deadline) != WorkerProcess::ReadResult::line) {
        return false;
    }
    std::string version;
    const bool ready = is_ready_line(line, version);
    if (!version.empty()) {
        std::lock_guard lock(mutex_);
        version_ = version;
    }
    return ready;
}

PoolAnswer WorkerPool::resolve(const json& request, Clock::time_point start_by) {
    Slot* slot = nullptr;
    Taken taken;
    {
        std::unique_lock lock(mutex_);
        const auto free_slot = [this] {
            return std::find_if(slots_.begin(), slots_.end(),
                                [](const Slot& s) { return !s.in_use; });
        };
        if (!slot_freed_.wait_until(lock, start_by, [&] { return free_slot() != slots_.end(); })) {
            return {PoolAnswer::Kind::busy, {}, "no free worker"};
        }
        slot = &*free_slot();
        slot->in_use = true;
        // The worker is this request's alone until it is handed back, so it is used without
        // the lock; the slot keeps saying whether it was ready for health checks meanwhile.
        taken.process = std::move(slot->process);
        taken.ready = slot->ready;
    }
    PoolAnswer answer = run(taken, request);
    {
        std::lock_guard lock(mutex_);
        slot->process = std::move(taken.process);
        slot->ready = taken.ready;
        slot->in_use = false;
    }
    slot_freed_.notify_one();
    return answer;
}

PoolAnswer WorkerPool::run(Taken& worker, const json& request) {
    const Clock::time_point deadline = Clock::now() + options_.time_limit;
    const auto replace = [&](PoolAnswer::Kind kind, std::string detail) {
        worker.process = start_worker();
        worker.ready = false;
        return PoolAnswer{kind, {}, std::move(detail)};
    };

    // A worker that died while it was idle took no request with it: start another one.
    if (!worker.process || worker.process->has_exited()) {
        worker.process = start_worker();
        worker.ready = false;
        if (!worker.process) {
            return {PoolAnswer::Kind::crashed, {}, "the resolver cannot be started"};
        }
    }
    if (!worker.ready) {
        if (!await_ready(*worker.process, deadline)) {
            const bool late = Clock::now() >= deadline;
            return replace(late ? PoolAnswer::Kind::timed_out : PoolAnswer::Kind::crashed,
                           late ? "the worker did not get ready in time"
                                : "the worker ended before it was ready");
        }
        worker.ready = true;
    }
    if (!worker.process->write_line(request.dump(-1, ' ', false, json::error_handler_t::replace),
                                    deadline)) {
        return replace(PoolAnswer::Kind::crashed, "the worker did not take the request");
    }
    std::string line;
    switch (worker.process->read_line(line, deadline)) {
        case WorkerProcess::ReadResult::line:
            break;
        case WorkerProcess::ReadResult::timed_out:
            return replace(PoolAnswer::Kind::timed_out, "killed at the time limit");
        case WorkerProcess::ReadResult::closed:
            return replace(PoolAnswer::Kind::crashed, "the worker ended without an answer");
        case WorkerProcess::ReadResult::overlong:
            return replace(PoolAnswer::Kind::crashed, "the worker's answer was too long");
    }
    json reply = json::parse(line, nullptr, false);
    if (reply.is_discarded() || !reply.is_object()) {
        return replace(PoolAnswer::Kind::crashed, "the worker answered something that is no JSON");
    }
    return {PoolAnswer::Kind::reply, std::move(reply), {}};
}

WorkerPool::Health WorkerPool::health() {
    std::lock_guard lock(mutex_);
    Health health;
    health.workers = slots_.size();
    for (Slot& slot : slots_) {
        if (!slot.in_use) {
            if (!slot.process || slot.process->has_exited()) {
                slot.process = start_worker();
                slot.ready = false;
            }
            if (slot.process && !slot.ready) {
                // Only what has already arrived: health checks never wait.
                std::string line;
                if (slot.process->read_line(line, Clock::now()) ==
                    WorkerProcess::ReadResult::line) {
                    std::string version;
                    slot.ready = is_ready_line(line, version);
                    if (!version.empty()) {
                        version_ = version;
                    }
                    if (!slot.ready) {
                        slot.process = start_worker();
                    }
                }
            }
        }
        if (slot.ready) {
            ++health.ready;
        }
    }
    health.version = version_;
    return health;
}

}  // namespace qinglan::service
