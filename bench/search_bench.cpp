// The boundary-aware search against glibc memmem on a 200 KB GBK page whose marker is near
// its end.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "text/GbkCodec.h"
#include "text/GbkSearch.h"

namespace {

const std::string& Page() {
    static const std::string page = [] {
        const std::string row = text::Utf8ToGbk(
            "<div class=\"info\"><a href=\"http://www.example.com/company/detail/abc.html\" "
            "class=\"l\">广州<font color=red>化工</font>有限公司</a></span><p>广东 广州市 天河区 "
            "电话：020-12345678 传真：020-87654321</p></div>\n");
        std::string p;
        while (p.size() < 200 * 1024) {
            p += row;
        }
        p += "<div id=\"marker\">" + text::Utf8ToGbk("共找到 1234 条符合") + "</div>";
        return p;
    }();
    return page;
}

const std::string kMarker = "<div id=\"marker\">";

void BM_Memmem(benchmark::State& state) {
    const std::string& page = Page();
    for (auto _ : state) {
        benchmark::DoNotOptimize(memmem(page.data(), page.size(), kMarker.data(), kMarker.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_Memmem);

void BM_FindText(benchmark::State& state) {
    const std::string& page = Page();
    for (auto _ : state) {
        benchmark::DoNotOptimize(text::FindText(page, kMarker));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_FindText);

void BM_ExtractBetween(benchmark::State& state) {
    const std::string& page = Page();
    const std::string start = text::Utf8ToGbk("共找到");
    const std::string end = text::Utf8ToGbk("条符合");
    for (auto _ : state) {
        benchmark::DoNotOptimize(text::ExtractBetween(page, start, end));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ExtractBetween);

// Worst case for boundary checks: every third byte begins a match that lies across a
// character boundary ("\xB0\xB1" is one character, so "\xB1x" behind it is no match).
void BM_FindTextManyCandidates(benchmark::State& state) {
    std::string page;
    while (page.size() < 200 * 1024) {
        page += "\xB0\xB1x";
    }
    page += "\xB1x";
    for (auto _ : state) {
        benchmark::DoNotOptimize(text::FindText(page, "\xB1x"));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_FindTextManyCandidates);

}  // namespace
