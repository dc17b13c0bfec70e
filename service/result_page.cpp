#include "service/result_page.h"

#include <cstdio>
#include <vector>

#include "lookup/percent_encoding.h"
#include "service/gbk.h"

namespace qinglan::service {
namespace {

bool breaks_anchor(unsigned char byte) {
    return byte <= 0x20 || byte >= 0x7F || byte == '"' || byte == '<' || byte == '>';
}

std::string size_text(std::int64_t bytes) {
    char buffer[32];
    const auto value = static_cast<double>(bytes);
    if (bytes < 1024) {
        std::snprintf(buffer, sizeof(buffer), "%lld B", static_cast<long long>(bytes));
    } else if (bytes < 1024 * 1024) {
        std::snprintf(buffer, sizeof(buffer), "%.1f KB", value / 1024.0);
    } else if (bytes < 1024LL * 1024 * 1024) {
        std::snprintf(buffer, sizeof(buffer), "%.1f MB", value / (1024.0 * 1024.0));
    } else {
        std::snprintf(buffer, sizeof(buffer), "%.2f GB", value / (1024.0 * 1024.0 * 1024.0));
    }
    return buffer;
}

std::string seconds_text(std::chrono::milliseconds limit) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%g", static_cast<double>(limit.count()) / 1000.0);
    return buffer;
}

}  // namespace

std::string anchor_address(std::string_view url) {
    return percent_encode_if(url, breaks_anchor);
}

std::string link_text(const MediaAddress& address) {
    std::vector<std::string> pieces;
    if (address.part > 0) {
        pieces.push_back("第" + std::to_string(address.part) + "段");
    }
    if (!address.ext.empty()) {
        pieces.push_back(address.ext);
    }
    if (!address.format_id.empty() && address.format_id != address.ext) {
        pieces.push_back(address.format_id);
    }
    if (!address.resolution.empty() && address.resolution != address.format_id) {
        pieces.push_back(address.resolution);
    }
    if (address.size) {
        pieces.push_back((address.size_is_estimate ? "约 " : "") + size_text(*address.size));
    }
    if (pieces.empty()) {
        return "下载";
    }
    std::string text = pieces.front();
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        text += " " + pieces[i];
    }
    return text;
}

std::string outcome_message(const Resolution& resolution, std::chrono::milliseconds time_limit) {
    switch (resolution.outcome) {
        case Outcome::ok:
            return "共找到 " + std::to_string(resolution.addresses.size()) + " 个地址。";
        case Outcome::unsupported:
            return "这个页面上没有找到可以下载的视频。";
        case Outcome::failed:
            return resolution.detail.empty() ? "解析失败。" : "解析失败：" + resolution.detail;
        case Outcome::crashed:
            return "解析程序意外退出，请再试一次。";
        case Outcome::timed_out:
            return "解析超时（超过 " + seconds_text(time_limit) + " 秒），请稍后再试。";
        case Outcome::busy:
            return "服务正忙，请稍后再试。";
        case Outcome::refused_scheme:
            return "只能解析 http 和 https 地址。";
        case Outcome::refused_private:
            return "不解析本机或内网的地址。";
        case Outcome::too_long:
            return "地址太长（超过 8 KiB）。";
        case Outcome::no_address:
            return "请在 kw 参数中给出视频播放页的地址。";
    }
    return {};
}

std::string render_result_page(const Resolution& resolution, std::string_view message) {
    const std::string title =
        resolution.title.empty() ? std::string("青岚地址服务") : resolution.title;
    std::string page;
    page += "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n";
    page += "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">\r\n";
    page += "<title>" + gbk_html(title) + "</title>\r\n</head>\r\n<body>\r\n";
    if (!resolution.title.empty()) {
        page += "<h1>" + gbk_html(resolution.title) + "</h1>\r\n";
    }
    if (!message.empty()) {
        page += "<p>" + gbk_html(message) + "</p>\r\n";
    }
    page += "<table>\r\n<tr><td>\r\n";
    page += kFrontMarker;
    page += "\r\n";
    if (resolution.outcome == Outcome::ok) {
        for (const MediaAddress& address : resolution.addresses) {
            page += "<a href=\"" + anchor_address(address.url) + "\" target=\"_blank\">" +
                    gbk_html(link_text(address)) + "</a><br>\r\n";
        }
    }
    page += "</td></tr>\r\n<tr>";
    page += kBackMarker;
    page += "\n</td></tr>\r\n</table>\r\n</body>\r\n</html>\r\n";
    return page;
}

}  // namespace qinglan::service
