// How long the extraction takes, from the bytes of a result page to the rows of an in-memory
// list, on synthetic pages of 64 KiB, 1 MiB and 16 MiB holding 10, 1,000 and 100,000 anchors.
// Beside each page it times two floors over the same bytes: one memmem pass that finds every
// "<a" (the search the extraction cannot do without) and one memchr pass for a byte that does
// not occur (the whole page read at memory speed), and what the rows alone cost in the list.
// Everything runs with the page in the cache and again with the cache swept before each pass.
// A summary at the end gives each ratio and how the cost grows from 1 MiB to 16 MiB.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "lookup/address_extraction.h"
#include "lookup/tests/memory_address_list.h"

namespace {

using qinglan::Bytes;
using qinglan::Text;

// The service's page layout, in code page 936.
const std::string kFront = "<br>\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA";  // "<br>下载地址："
const std::string kBack = "<td align=left class=\"mn STYLE4\">\r";

// Filler as a result page has it: tags, attributes, ASCII and double-byte text ("第1段 清晰度
// 高清 大小"), with many '<' but no "<a" of its own.
const std::string kFiller =
    "<span class=\"mn\">\xB5\xDA"
    "1\xB6\xCE \xC7\xE5\xCE\xFA\xB6\xC8 \xB8\xDF\xC7\xE5</span> "
    "<font color=#336699>\xB4\xF3\xD0\xA1 12.4MB</font><br>\r\n";

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;

std::string address_of(std::size_t index) {
    return "http://c.example/" + std::to_string(100000 + index) + ".flv";
}

std::string anchor_of(std::size_t index) {
    return "<a href=\"" + address_of(index) + "\" target=\"_blank\">" + std::to_string(index % 10) +
           "</a><br>";
}

// `count` bytes of filler.
std::string filler(std::size_t count) {
    std::string bytes;
    bytes.reserve(count + kFiller.size());
    while (bytes.size() < count) {
        bytes += kFiller;
    }
    bytes.resize(count);
    // A byte of 0x80 or above at the end could pair with the next anchor's '<' and hide it.
    if (!bytes.empty() && static_cast<unsigned char>(bytes.back()) >= 0x80) {
        bytes.back() = ' ';
    }
    return bytes;
}

const std::string kHead =
    "<html><head><title>\xBD\xE2\xCE\xF6</title></head><body><table><tr><td>";  // "解析"
const std::string kTail = "\n</td></tr></table></body></html>";

// The bytes of a page that are not filler.
std::size_t fixed_bytes(std::size_t anchors) {
    std::size_t fixed = kHead.size() + kFront.size() + 4 + kBack.size() + kTail.size();
    for (std::size_t i = 0; i < anchors; ++i) {
        fixed += anchor_of(i).size();
    }
    return fixed;
}

// A page of exactly `size` bytes with `anchors` anchors in its block. A quarter of the filler
// comes before the block, half of it is spread between the anchors and a quarter follows the
// block. Empty when the anchors do not fit.
std::string make_page(std::size_t size, std::size_t anchors) {
    const std::size_t fixed = fixed_bytes(anchors);
    if (fixed > size) {
        return {};
    }
    const std::size_t spare = size - fixed;
    const std::size_t inside = spare / 2;
    const std::size_t before = spare / 4;
    const std::size_t after = spare - inside - before;
    std::string page = kHead + filler(before) + kFront + "<br>";
    page.reserve(size);
    for (std::size_t i = 0; i < anchors; ++i) {
        page += anchor_of(i);
        page += filler(inside / anchors + (i < inside % anchors ? 1 : 0));
    }
    page += kBack + filler(after) + kTail;
    return page;
}

struct Page {
    Bytes bytes;
    std::size_t anchors;
};

const Page& page_of(std::size_t size, std::size_t anchors) {
    static std::map<std::pair<std::size_t, std::size_t>, Page> pages;
    auto [it, added] = pages.try_emplace({size, anchors});
    if (added) {
        const std::string bytes = make_page(size, anchors);
        it->second = Page{Bytes(bytes.begin(), bytes.end()), anchors};
    }
    return it->second;
}

// What a read does once the page has arrived.
void extract(const Bytes& body, qinglan::AddressList& list) {
    qinglan::extract_addresses(body, list);
}

// Whether each pass starts with the page in the cache (as a small page is, just after it was
// received) or read from memory.
enum class Cache { kWarm, kCold };

// Touches more memory than the last-level cache holds, so the page is no longer in it.
void evict_caches() {
    static std::vector<char> sweep(64 * kMiB);
    for (std::size_t i = 0; i < sweep.size(); i += 64) {
        ++sweep[i];
    }
    benchmark::DoNotOptimize(sweep.data());
    benchmark::ClobberMemory();
}

template <typename Pass>
void measure(benchmark::State& state, Cache cache, Pass pass) {
    const Page& page =
        page_of(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) {
        if (cache == Cache::kCold) {
            state.PauseTiming();
            evict_caches();
            state.ResumeTiming();
        }
        pass(page);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.bytes.size()));
}

void extraction(benchmark::State& state, Cache cache) {
    const Page& page =
        page_of(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    // The figures count only if the extraction gives the rows the page holds.
    qinglan::testing::MemoryAddressList list;
    extract(page.bytes, list);
    if (list.rows.size() != page.anchors || list.rows.front().bytes() != address_of(0) ||
        list.rows.back().bytes() != address_of(page.anchors - 1)) {
        state.SkipWithError("the extraction did not give the page's rows");
        return;
    }
    measure(state, cache, [](const Page& measured) {
        qinglan::testing::MemoryAddressList rows;
        extract(measured.bytes, rows);
        benchmark::DoNotOptimize(rows.rows.data());
    });
}

// One memchr pass over the whole page: it holds no zero byte.
void memchr_floor(benchmark::State& state, Cache cache) {
    measure(state, cache, [](const Page& page) {
        const void* found = std::memchr(page.bytes.data(), '\0', page.bytes.size());
        benchmark::DoNotOptimize(found);
    });
}

// One memmem pass that finds every "<a" of the page.
void memmem_floor(benchmark::State& state, Cache cache) {
    measure(state, cache, [](const Page& page) {
        std::size_t count = 0;
        const auto* at = page.bytes.data();
        const auto* const end = at + page.bytes.size();
        while (const void* found = memmem(at, static_cast<std::size_t>(end - at), "<a", 2)) {
            ++count;
            at = static_cast<const std::uint8_t*>(found) + 2;
        }
        benchmark::DoNotOptimize(count);
    });
}

// What the rows alone cost in the in-memory list, which logs every call: the same captions
// added without looking at the page.
void BM_ListAlone(benchmark::State& state) {
    const Page& page =
        page_of(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    std::vector<Text> captions;
    for (std::size_t i = 0; i < page.anchors; ++i) {
        captions.emplace_back(address_of(i));
    }
    for (auto _ : state) {
        qinglan::testing::MemoryAddressList list;
        list.clear_rows();
        for (const Text& caption : captions) {
            // A copy of the caption, as the extraction makes one from the page.
            list.set_row_caption(list.append_row(), 0, Text(caption.bytes()));
        }
        benchmark::DoNotOptimize(list.rows.data());
        benchmark::ClobberMemory();
    }
}

void BM_Extraction(benchmark::State& state) {
    extraction(state, Cache::kWarm);
}
void BM_MemmemFloor(benchmark::State& state) {
    memmem_floor(state, Cache::kWarm);
}
void BM_MemchrFloor(benchmark::State& state) {
    memchr_floor(state, Cache::kWarm);
}
void BM_ColdExtraction(benchmark::State& state) {
    extraction(state, Cache::kCold);
}
void BM_ColdMemmemFloor(benchmark::State& state) {
    memmem_floor(state, Cache::kCold);
}
void BM_ColdMemchrFloor(benchmark::State& state) {
    memchr_floor(state, Cache::kCold);
}

// The pages measured: every combination of size and anchor count whose anchors fit.
void page_arguments(benchmark::internal::Benchmark* benchmark) {
    for (const std::size_t size : {64 * kKiB, 1 * kMiB, 16 * kMiB}) {
        for (const std::size_t anchors : {10u, 1000u, 100000u}) {
            if (fixed_bytes(anchors) <= size) {
                benchmark->Args(
                    {static_cast<std::int64_t>(size), static_cast<std::int64_t>(anchors)});
            }
        }
    }
}

BENCHMARK(BM_Extraction)->Apply(page_arguments)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemmemFloor)->Apply(page_arguments)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemchrFloor)->Apply(page_arguments)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListAlone)->Apply(page_arguments)->Unit(benchmark::kMicrosecond);
// Each cold pass first sweeps the cache, which takes far longer than the pass: a fixed number
// of passes keeps the run short.
constexpr int kColdPasses = 40;
BENCHMARK(BM_ColdExtraction)
    ->Apply(page_arguments)
    ->Iterations(kColdPasses)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColdMemmemFloor)
    ->Apply(page_arguments)
    ->Iterations(kColdPasses)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColdMemchrFloor)
    ->Apply(page_arguments)
    ->Iterations(kColdPasses)
    ->Unit(benchmark::kMicrosecond);

// The console output as usual, and the summary with the ratios once every figure is in.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    // Plain text: the output usually goes to a report file.
    SummaryReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                failed_ = true;
                continue;
            }
            // With repetitions the median stands for the benchmark; without, the one run.
            const bool is_median =
                run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!is_median && run.repetitions > 1) {
                continue;
            }
            std::size_t size = 0;
            std::size_t anchors = 0;
            if (std::sscanf(run.run_name.args.c_str(), "%zu/%zu", &size, &anchors) != 2) {
                continue;
            }
            std::string name = run.run_name.function_name;
            const bool cold = name.starts_with("BM_Cold");
            if (cold) {
                name = "BM_" + name.substr(std::strlen("BM_Cold"));
            }
            Figures& figures = (cold ? cold_ : warm_)[{size, anchors}];
            const double microseconds = run.GetAdjustedRealTime();
            if (name == "BM_Extraction") {
                figures.extraction = microseconds;
            } else if (name == "BM_MemmemFloor") {
                figures.memmem = microseconds;
            } else if (name == "BM_MemchrFloor") {
                figures.memchr = microseconds;
            } else if (name == "BM_ListAlone") {
                figures.list = microseconds;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const Verdict warm = summarise("page in the cache", warm_);
        const Verdict cold =
            summarise("page read from memory (cache swept before each pass)", cold_);
        std::printf(
            "\nGoals: 16 MiB within 20x of 1 MiB: %s in the cache, %s from memory. "
            "Within 8x of the memmem floor: %s in the cache, %s from memory.\n",
            warm.growth(), cold.growth(), warm.floor(), cold.floor());
        if (failed_) {
            std::printf("A benchmark failed; see above.\n");
        }
    }

    bool failed() const { return failed_; }

  private:
    struct Figures {
        double extraction = 0;
        double memmem = 0;
        double memchr = 0;
        double list = 0;  // measured in the cache only
    };
    using Pages = std::map<std::pair<std::size_t, std::size_t>, Figures>;  // by size, anchors
    struct Verdict {
        bool checked_growth = false;
        bool linear = true;
        bool checked_floor = false;
        bool near_floor = true;
        const char* growth() const {
            return !checked_growth ? "not run" : linear ? "met" : "MISSED";
        }
        const char* floor() const {
            return !checked_floor ? "not run" : near_floor ? "met" : "MISSED";
        }
    };

    static Verdict summarise(const char* title, const Pages& pages) {
        Verdict verdict;
        if (pages.empty()) {
            return verdict;
        }
        std::printf("\nExtraction, page bytes to in-memory rows; %s (median, microseconds):\n",
                    title);
        std::printf("%9s %8s %12s %12s %8s %12s %8s %11s\n", "page", "anchors", "extraction",
                    "memmem", "ratio", "memchr", "ratio", "rows alone");
        for (const auto& [page, figures] : pages) {
            if (figures.extraction <= 0 || figures.memmem <= 0 || figures.memchr <= 0) {
                continue;  // not all three were run
            }
            const double to_memmem = figures.extraction / figures.memmem;
            std::printf("%5zu KiB %8zu %12.1f %12.1f %7.1fx %12.1f %7.1fx", page.first / kKiB,
                        page.second, figures.extraction, figures.memmem, to_memmem, figures.memchr,
                        figures.extraction / figures.memchr);
            if (figures.list > 0) {
                std::printf(" %11.1f", figures.list);
            }
            std::printf("\n");
            verdict.checked_floor = true;
            verdict.near_floor = verdict.near_floor && to_memmem <= 8.0;
        }
        std::printf("Growth from 1 MiB to 16 MiB, 16 times the bytes (extraction; memchr pass):\n");
        for (const std::size_t anchors : {10u, 1000u}) {
            const auto small = pages.find({kMiB, anchors});
            const auto large = pages.find({16 * kMiB, anchors});
            if (small == pages.end() || large == pages.end() || small->second.extraction <= 0 ||
                large->second.extraction <= 0 || small->second.memchr <= 0) {
                continue;
            }
            const double growth = large->second.extraction / small->second.extraction;
            verdict.checked_growth = true;
            verdict.linear = verdict.linear && growth <= 20.0;
            std::printf("  %6zu anchors: %5.1fx; %5.1fx\n", anchors, growth,
                        large->second.memchr / small->second.memchr);
        }
        return verdict;
    }

    Pages warm_;
    Pages cold_;
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.failed() ? 1 : 0;
}
