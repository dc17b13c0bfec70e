#include "service/resolution.h"

#include <cmath>
#include <set>

#include "service/ascii.h"

namespace qinglan::service {
namespace {

using nlohmann::json;

std::string string_field(const json& object, const char* key) {
    const auto found = object.find(key);
    return (found != object.end() && found->is_string()) ? found->get<std::string>()
                                                         : std::string();
}

std::optional<std::int64_t> size_field(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number()) {
        return std::nullopt;
    }
    const double value = found->get<double>();
    if (!std::isfinite(value) || value <= 0 || value > 9.0e18) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(std::llround(value));
}

std::map<std::string, std::string> headers_field(const json& object) {
    std::map<std::string, std::string> headers;
    const auto found = object.find("http_headers");
    if (found != object.end() && found->is_object()) {
        for (const auto& [name, value] : found->items()) {
            if (value.is_string()) {
                headers[name] = value.get<std::string>();
            }
        }
    }
    return headers;
}

Resolution crashed() {
    Resolution resolution;
    resolution.outcome = Outcome::crashed;
    resolution.detail = "the resolver's answer could not be read";
    return resolution;
}

}  // namespace

const char* outcome_name(Outcome outcome) {
    switch (outcome) {
        case Outcome::ok:
            return "ok";
        case Outcome::unsupported:
            return "unsupported";
        case Outcome::failed:
            return "failed";
        case Outcome::crashed:
            return "crashed";
        case Outcome::timed_out:
            return "timeout";
        case Outcome::busy:
            return "busy";
        case Outcome::refused_scheme:
            return "refused-scheme";
        case Outcome::refused_private:
            return "refused-private";
        case Outcome::too_long:
            return "too-long";
        case Outcome::no_address:
            return "no-address";
    }
    return "failed";
}

int outcome_status(Outcome outcome) {
    switch (outcome) {
        case Outcome::ok:
            return 200;
        case Outcome::unsupported:
            return 422;
        case Outcome::failed:
        case Outcome::crashed:
            return 502;
        case Outcome::timed_out:
            return 504;
        case Outcome::busy:
            return 503;
        case Outcome::refused_scheme:
        case Outcome::refused_private:
            return 403;
        case Outcome::too_long:
            return 414;
        case Outcome::no_address:
            return 400;
    }
    return 500;
}

namespace {

// Only addresses a download manager or the tool can fetch are listed: a watch page can name a
// javascript: or data: source, which must not turn up as a link in a page from this service.
bool has_download_scheme(std::string_view url) {
    return starts_with_ignoring_case(url, "http://") ||
           starts_with_ignoring_case(url, "https://") || starts_with_ignoring_case(url, "ftp://");
}

}  // namespace

Resolution resolution_from_reply(const json& reply) {
    if (!reply.is_object()) {
        return crashed();
    }
    const auto ok = reply.find("ok");
    if (ok == reply.end() || !ok->is_boolean()) {
        return crashed();
    }
    Resolution resolution;
    resolution.title = string_field(reply, "title");
    resolution.detail = string_field(reply, "message");
    if (!ok->get<bool>()) {
        const std::string kind = string_field(reply, "kind");
        resolution.outcome = kind == "unsupported" ? Outcome::unsupported
                             : kind == "refused"   ? Outcome::refused_private
                             : kind == "not_http"  ? Outcome::refused_scheme
                                                   : Outcome::failed;
        return resolution;
    }
    const auto parts = reply.find("parts");
    if (parts == reply.end() || !parts->is_array()) {
        return crashed();
    }
    const bool several_parts = parts->size() > 1;
    std::set<std::string> listed;
    int part_number = 0;
    for (const json& part : *parts) {
        ++part_number;
        if (!part.is_object()) {
            continue;
        }
        if (resolution.title.empty()) {
            resolution.title = string_field(part, "title");
        }
        const auto formats = part.find("formats");
        if (formats == part.end() || !formats->is_array()) {
            continue;
        }
        for (const json& format : *formats) {
            if (!format.is_object()) {
                continue;
            }
            MediaAddress address;
            address.url = string_field(format, "url");
            if (!has_download_scheme(address.url) || !listed.insert(address.url).second) {
                continue;
            }
            address.format_id = string_field(format, "format_id");
            address.format = string_field(format, "format");
            address.ext = string_field(format, "ext");
            address.resolution = string_field(format, "resolution");
            address.size = size_field(format, "filesize");
            if (!address.size) {
                address.size = size_field(format, "filesize_approx");
                address.size_is_estimate = address.size.has_value();
            }
            address.part = several_parts ? part_number : 0;
            address.http_headers = headers_field(format);
            resolution.addresses.push_back(std::move(address));
        }
    }
    resolution.outcome = resolution.addresses.empty() ? Outcome::unsupported : Outcome::ok;
    return resolution;
}

json resolution_to_json(const Resolution& resolution, const std::string& message) {
    json addresses = json::array();
    for (const MediaAddress& address : resolution.addresses) {
        json entry = {
            {"url", address.url},
            {"format_id", address.format_id},
            {"format", address.format},
            {"ext", address.ext},
            {"resolution", address.resolution.empty() ? json() : json(address.resolution)},
            {"size", address.size ? json(*address.size) : json()},
            {"size_is_estimate", address.size_is_estimate},
            {"http_headers", address.http_headers},
        };
        if (address.part > 0) {
            entry["part"] = address.part;
        }
        addresses.push_back(std::move(entry));
    }
    json answer = {
        {"outcome", outcome_name(resolution.outcome)},
        {"status", outcome_status(resolution.outcome)},
        {"title", resolution.title},
        {"addresses", std::move(addresses)},
    };
    if (!message.empty()) {
        answer["message"] = message;
    }
    return answer;
}

}  // namespace qinglan::service
