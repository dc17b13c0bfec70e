#include "service/address_service.h"

#include "service/result_page.h"
#include "service/target_policy.h"
#include "service/watch_address.h"

namespace qinglan::service {

using nlohmann::json;

namespace {

Resolution outcome_only(Outcome outcome, std::string detail = {}) {
    Resolution resolution;
    resolution.outcome = outcome;
    resolution.detail = std::move(detail);
    return resolution;
}

}  // namespace

Resolution AddressService::resolve(std::string_view raw_query, bool query_overlong,
                                   std::chrono::steady_clock::time_point arrived) {
    if (query_overlong) {
        return outcome_only(Outcome::too_long);
    }
    const std::optional<std::string_view> kw = raw_kw_value(raw_query);
    if (!kw) {
        return outcome_only(Outcome::no_address);
    }
    if (kw->size() > kMaxWatchAddressBytes) {
        return outcome_only(Outcome::too_long);
    }
    const WatchAddress address = normalise_watch_address(*kw);
    switch (address.problem) {
        case AddressProblem::none:
            break;
        case AddressProblem::empty:
            return outcome_only(Outcome::no_address);
        case AddressProblem::not_http:
            return outcome_only(Outcome::refused_scheme);
    }
    if (refuse_private_ && check_public_target(address.url) != TargetVerdict::allowed) {
        return outcome_only(Outcome::refused_private);
    }
    const json request = {{"url", address.url}, {"allow_private", !refuse_private_}};
    const PoolAnswer answer = pool_.resolve(request, arrived + wait_limit_);
    switch (answer.kind) {
        case PoolAnswer::Kind::reply:
            return resolution_from_reply(answer.reply);
        case PoolAnswer::Kind::busy:
            return outcome_only(Outcome::busy, answer.detail);
        case PoolAnswer::Kind::timed_out:
            return outcome_only(Outcome::timed_out, answer.detail);
        case PoolAnswer::Kind::crashed:
            return outcome_only(Outcome::crashed, answer.detail);
    }
    return outcome_only(Outcome::crashed);
}

Answer AddressService::answer_parse(std::string_view raw_query, bool query_overlong, bool as_json,
                                    std::chrono::steady_clock::time_point arrived) {
    const Resolution resolution = resolve(raw_query, query_overlong, arrived);
    const std::string message = outcome_message(resolution, pool_.options().time_limit);
    Answer answer;
    answer.status = outcome_status(resolution.outcome);
    answer.outcome = outcome_name(resolution.outcome);
    answer.addresses = resolution.outcome == Outcome::ok ? resolution.addresses.size() : 0;
    if (as_json) {
        answer.content_type = "application/json; charset=utf-8";
        answer.body = resolution_to_json(resolution, message)
                          .dump(-1, ' ', false, json::error_handler_t::replace);
        answer.body += '\n';
    } else {
        answer.content_type = "text/html; charset=GBK";
        answer.body = render_result_page(resolution, message);
    }
    return answer;
}

Answer AddressService::answer_health() {
    const WorkerPool::Health health = pool_.health();
    const bool ready = health.ready == health.workers;
    Answer answer;
    answer.status = ready ? 200 : 503;
    answer.outcome = ready ? "ready" : "starting";
    answer.content_type = "application/json; charset=utf-8";
    answer.body = json{{"ready", ready},
                       {"workers", health.workers},
                       {"ready_workers", health.ready},
                       {"resolver", health.version}}
                      .dump(-1, ' ', false, json::error_handler_t::replace);
    answer.body += '\n';
    return answer;
}

}  // namespace qinglan::service
