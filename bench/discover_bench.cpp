// What discovery costs beyond the download, on a 1 MB page with 200 <link>
// elements (feeds, comment feeds, stylesheets, preloads, REST links) ahead
// of a long body of articles and script data:
//   BareHtmlParse      libxml2's HTML parser alone, the floor;
//   FindFeedLinks      parse, links, resolution, ranking;
//   DiscoverInMemory   the whole of Discover with the page handed over by an
//                      in-memory fetcher: the feed check, then the links;
//   YouTubeShape       the same size of page with no feed link but a channel
//                      id deep in its script data.
// The budget is 50 ms for DiscoverInMemory.
#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>

#include <string>

#include "Discover.h"

namespace {

constexpr std::size_t kPageSize = 1024 * 1024;
constexpr int kLinks = 200;

std::string Links() {
    std::string head;
    for (int i = 0; i < kLinks; ++i) {
        const std::string n = std::to_string(i);
        switch (i % 5) {
            case 0:
                head += "<link rel=\"alternate\" type=\"application/rss+xml\" title=\"Section " + n +
                        " &raquo; Feed\" href=\"/section/" + n + "/feed/\">\n";
                break;
            case 1:
                head += "<link rel=\"alternate\" type=\"application/rss+xml\" title=\"Section " + n +
                        " &raquo; Comments Feed\" href=\"/section/" + n + "/comments/feed/\">\n";
                break;
            case 2:
                head += "<link rel=\"stylesheet\" href=\"/css/" + n + ".css\" media=\"all\">\n";
                break;
            case 3:
                head += "<link rel=\"preload\" as=\"font\" href=\"/fonts/" + n + ".woff2\" crossorigin>\n";
                break;
            case 4:
                head += "<link rel=\"alternate\" type=\"application/json\" href=\"/wp-json/wp/v2/pages/" + n + "\">\n";
                break;
        }
    }
    return head;
}

std::string Body(const std::string& script) {
    std::string body;
    for (int i = 0; body.size() < kPageSize; ++i) {
        const std::string n = std::to_string(i);
        body += "<article class=\"post\"><h2><a href=\"/2024/05/post-" + n + "/\">Post " + n +
                "</a></h2><p>Lorem ipsum dolor sit amet, <em>consectetur</em> adipiscing elit &amp; more, "
                "sed do eiusmod tempor incididunt ut labore et dolore magna aliqua.</p>"
                "<ul><li>one</li><li>two</li></ul></article>\n";
        if (i % 50 == 0) body += "<script>var data = {\"items\":[{\"id\":" + n + ",\"text\":\"x\"}]};</script>\n";
    }
    return body + script;
}

const std::string& LinkedPage() {
    static const std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Big site</title>\n" +
                                    Links() + "</head><body>\n" + Body("") + "</body></html>\n";
    return page;
}

const std::string& YouTubePage() {
    static const std::string page =
        "<!DOCTYPE html>\n<html><head><title>Channel - YouTube</title>"
        "<meta property=\"og:site_name\" content=\"YouTube\"></head><body>\n" +
        Body("<script>var ytInitialData = {\"header\":{\"channelId\":\"UCabcdefghijklmnopqrstuv\"}};</script>") +
        "</body></html>\n";
    return page;
}

constexpr const char* kPageUrl = "https://big.example/blog/";

void BareHtmlParse(benchmark::State& state) {
    const std::string& page = LinkedPage();
    for (auto _ : state) {
        xmlDoc* doc = htmlReadMemory(
            page.data(), static_cast<int>(page.size()), kPageUrl, "UTF-8",
            HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_RECOVER | HTML_PARSE_COMPACT);
        benchmark::DoNotOptimize(doc);
        xmlFreeDoc(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void FindFeedLinks(benchmark::State& state) {
    const std::string& page = LinkedPage();
    std::size_t found = 0;
    for (auto _ : state) found = discover::FindFeedLinks(page, kPageUrl).size();
    state.counters["feeds"] = static_cast<double>(found);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void Discover(benchmark::State& state, const std::string& page) {
    discover::TDiscoverOptions options;
    options.fetcher = [&page](const std::string& url, bool) {
        return discover::TFetchedPage{url, "text/html; charset=utf-8", page};
    };
    std::size_t found = 0;
    for (auto _ : state) found = discover::Discover(kPageUrl, options).Feeds.size();
    state.counters["feeds"] = static_cast<double>(found);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void DiscoverInMemory(benchmark::State& state) { Discover(state, LinkedPage()); }
void YouTubeShape(benchmark::State& state) { Discover(state, YouTubePage()); }

BENCHMARK(BareHtmlParse)->Unit(benchmark::kMillisecond);
BENCHMARK(FindFeedLinks)->Unit(benchmark::kMillisecond);
BENCHMARK(DiscoverInMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(YouTubeShape)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
