// What a resolve gave: the outcome, the video's title and its media addresses in the order in
// which they are listed (best first, part after part), as read from a resolver worker's reply.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qinglan::service {

enum class Outcome {
    ok,
    unsupported,      // the page has nothing that can be played
    failed,           // the resolver reported an error (site error, network, …)
    crashed,          // the worker died or answered nonsense
    timed_out,        // the worker overran the time limit and was killed
    busy,             // no worker became free within the wait limit
    refused_scheme,   // not an http or https target
    refused_private,  // a non-public target while such targets are refused
    too_long,         // the watch-page address is over the limit
    no_address,       // no watch-page address given
};

// A short word for logs and for the JSON answer: "ok", "unsupported", "timeout", …
const char* outcome_name(Outcome outcome);
// The HTTP status that tells other clients what happened (the tool does not look at it).
int outcome_status(Outcome outcome);

struct MediaAddress {
    std::string url;
    std::string format_id;
    std::string format;  // yt-dlp's description of the format
    std::string ext;
    std::string resolution;  // "1280x720", "720p", "audio only", or empty when unknown
    std::optional<std::int64_t> size;
    bool size_is_estimate = false;
    int part = 0;  // 1, 2, … for a video in several parts; 0 for a video in one piece
    std::map<std::string, std::string> http_headers;
};

struct Resolution {
    Outcome outcome = Outcome::failed;
    std::string title;   // UTF-8
    std::string detail;  // UTF-8: the resolver's message when it failed
    std::vector<MediaAddress> addresses;
};

// Reads a worker's reply:
//   {"ok": true, "title": "…", "parts": [{"title": "…", "formats": [{…}, …]}, …]}
//   {"ok": false, "kind": "unsupported" | "refused" | "not_http" | "failed", "message": "…"}
// Each part's formats come best first; they are flattened part after part and an address that
// has already been listed is left out. A reply without any address is "unsupported"; a reply
// that does not have this shape counts as a crashed worker.
Resolution resolution_from_reply(const nlohmann::json& reply);

// The answer of /parse.json: outcome, status, message, title and every address with its
// format, extension, resolution, size and the HTTP headers that the site needs.
nlohmann::json resolution_to_json(const Resolution& resolution, const std::string& message);

}  // namespace qinglan::service
