// What article extraction costs beyond the download, on the saved news page
// of the tests (ads, related boxes, share bars, navigation, script data)
// grown to the sizes that matter:
//   BareHtmlParse   libxml2's HTML parser alone, the floor;
//   Extract         the whole extraction: parse, metadata, cleaning,
//                   scoring, the result written as HTML.
// Pages: 100 KB (a typical article page) and 2 MB (a long page with its
// comments and script data). Budgets: 20 ms and 200 ms of CPU.
//
// Memory: every allocation of libxml2 and of C++ is counted, and the peak
// of live bytes during one extraction is reported against the page's size
// (the counter PeakPerPageByte; the budget is 10).
#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>
#include <libxml/xmlmemory.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "Extract.h"

namespace {

std::atomic<std::size_t> live{0}, peak{0};

void Count(void* block) {
    if (block == nullptr) return;
    const std::size_t now = live += malloc_usable_size(block);
    for (std::size_t seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
    }
}
void Uncount(void* block) {
    if (block != nullptr) live -= malloc_usable_size(block);
}

void* CountedMalloc(std::size_t size) {
    void* block = std::malloc(size);
    Count(block);
    return block;
}
void CountedFree(void* block) {
    Uncount(block);
    std::free(block);
}
void* CountedRealloc(void* block, std::size_t size) {
    Uncount(block);
    void* moved = std::realloc(block, size);
    Count(moved != nullptr ? moved : block);
    return moved;
}
char* CountedStrdup(const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(CountedMalloc(size));
    if (copy != nullptr) std::memcpy(copy, text, size);
    return copy;
}

const bool kCounting = [] {
    xmlMemSetup(CountedFree, CountedMalloc, CountedRealloc, CountedStrdup);
    return true;
}();

std::string ReadPage() {
    std::ifstream in(std::string(EXTRACT_BENCH_DATA) + "/news_ads_related.html", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The news page grown to size: its story body gets more paragraphs and its
// end more related boxes and script data, in equal parts, as long pages
// grow.
std::string PageOfSize(std::size_t size) {
    std::string page = ReadPage();
    const std::size_t bodyAt = page.find("<div class=\"story-body\">") + 24;
    const std::size_t storyEnd = page.find("</p>", bodyAt) + 4;
    const std::string paragraph = page.substr(bodyAt, storyEnd - bodyAt);
    const std::size_t relatedAt = page.find("<div class=\"related-articles\">");
    const std::string related = page.substr(relatedAt, page.find("</div>", relatedAt) + 6 - relatedAt);
    std::string more, clutter;
    while (page.size() + more.size() + clutter.size() < size) {
        more += paragraph;
        clutter += related + "<script>var x = [" + std::string(200, '1') + "];</script>";
    }
    page.insert(storyEnd, more);
    page.insert(page.rfind("</body>"), clutter);
    return page;
}

void BareHtmlParse(benchmark::State& state) {
    const std::string page = PageOfSize(static_cast<std::size_t>(state.range(0)) * 1024);
    for (auto _ : state) {
        htmlDocPtr document =
            htmlReadMemory(page.data(), static_cast<int>(page.size()), nullptr, "UTF-8",
                           HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
        benchmark::DoNotOptimize(document);
        xmlFreeDoc(document);
    }
    const std::size_t before = live;
    peak = before;
    xmlFreeDoc(htmlReadMemory(page.data(), static_cast<int>(page.size()), nullptr, "UTF-8",
                              HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET));
    state.counters["PeakPerPageByte"] = static_cast<double>(peak - before) / page.size();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void Extract(benchmark::State& state) {
    const std::string page = PageOfSize(static_cast<std::size_t>(state.range(0)) * 1024);
    std::size_t text = 0;
    for (auto _ : state) {
        const extract::TArticle article = extract::ExtractArticle(page, "https://news.example/2024/ferry");
        text = article.TextLength;
        benchmark::DoNotOptimize(article);
    }
    const std::size_t before = live;
    peak = before;
    { const extract::TArticle article = extract::ExtractArticle(page, "https://news.example/2024/ferry"); }
    state.counters["PageKB"] = static_cast<double>(page.size()) / 1024;
    state.counters["ArticleChars"] = static_cast<double>(text);
    state.counters["PeakPerPageByte"] = static_cast<double>(peak - before) / page.size();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

BENCHMARK(BareHtmlParse)->Arg(100)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(Extract)->Arg(100)->Arg(2048)->Unit(benchmark::kMillisecond);

}  // namespace

// C++ allocations count too: the extractor's own tables and strings.
void* operator new(std::size_t size) {
    if (void* block = CountedMalloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { CountedFree(block); }
void operator delete(void* block, std::size_t) noexcept { CountedFree(block); }

BENCHMARK_MAIN();
