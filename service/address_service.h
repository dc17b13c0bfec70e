// The service's answers, apart from HTTP: from a request's raw query to the result page or the
// JSON answer, through the target checks and the worker pool.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "service/resolution.h"
#include "service/worker_pool.h"

namespace qinglan::service {

struct Answer {
    int status = 200;
    std::string content_type;
    std::string body;
    // For the log line.
    std::string outcome;
    std::size_t addresses = 0;
};

class AddressService {
  public:
    AddressService(WorkerPool& pool, bool refuse_private_targets,
                   std::chrono::milliseconds wait_limit)
        : pool_(pool), refuse_private_(refuse_private_targets), wait_limit_(wait_limit) {}

    // GET /parse.php (the page in code page 936) and /parse.json. `raw_query` is the request
    // target's query exactly as received; `query_overlong` says that the request line was too
    // long to keep. A request that cannot start on a worker by `arrived + wait limit` is busy.
    Answer answer_parse(std::string_view raw_query, bool query_overlong, bool as_json,
                        std::chrono::steady_clock::time_point arrived);

    // GET /healthz: 200 once every worker is ready, 503 before.
    Answer answer_health();

  private:
    Resolution resolve(std::string_view raw_query, bool query_overlong,
                       std::chrono::steady_clock::time_point arrived);

    WorkerPool& pool_;
    bool refuse_private_;
    std::chrono::milliseconds wait_limit_;
};

}  // namespace qinglan::service
