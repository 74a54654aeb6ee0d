// How much the feed library adds to libxml2 on large feeds. Generates
// 5 MB feeds (RSS 2.0, Atom 0.3, Atom 1.0 with xhtml content, and RSS 2.0
// with full bodies in content:encoded) and measures, on the same bytes:
//   a) a bare libxml2 parse and a walk over every node,
//   b) TFeedDocument::LoadFromString,
//   c) TFeedDocument::SaveToFile,
//   d) LoadFromFile then SaveToFile (one stored copy round),
// then prints "ratio <format> X.XX", the time of (b) over (a): the median
// over alternating rounds of the processor time each takes.
// A JSON Feed of as many items is measured the same way against a bare
// nlohmann-json parse of its bytes ("ratio jsonfeed X.XX").
// "--profile <format>" runs (a) and (b) once for one feed and nothing else,
// for a profiler.
#include <algorithm>
#include <exception>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>
#include <string>

#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <nlohmann/json.hpp>

#include "FeedDocument.h"

namespace {

constexpr int kItems = 5000;

std::string Description(int i) {
    std::string html = "<p>Item <b>" + std::to_string(i) + "</b> of the day, with a <a href=\"http://example.org/" +
                       std::to_string(i) + "\">link</a> and some text.</p>";
    for (int k = 0; k < 8; ++k) html += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit &amp; more.</p>";
    return html;
}

std::string MakeRSS() {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">\n<channel>\n"
        "<title>Benchmark</title>\n<link>http://example.org/</link>\n"
        "<description>A large feed</description>\n<language>en-us</language>\n";
    for (int i = 0; i < kItems; ++i) {
        const std::string n = std::to_string(i);
        text += "<item>\n  <title>Item number " + n + "</title>\n  <link>http://example.org/items/" + n +
                "</link>\n  <guid isPermaLink=\"false\">urn:example:" + n +
                "</guid>\n  <pubDate>Sat, 01 May 2004 10:20:30 GMT</pubDate>\n  <description><![CDATA[" +
                Description(i) + "]]></description>\n</item>\n";
    }
    return text + "</channel>\n</rss>\n";
}

std::string MakeAtom() {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed version=\"0.3\" "
        "xmlns=\"http://purl.org/atom/ns#\">\n<title>Benchmark</title>\n"
        "<link rel=\"alternate\" href=\"http://example.org/\"/>\n<tagline>A large feed</tagline>\n"
        "<modified>2004-05-01T10:20:30Z</modified>\n";
    for (int i = 0; i < kItems; ++i) {
        const std::string n = std::to_string(i);
        text += "<entry>\n  <title>Entry number " + n +
                "</title>\n  <link rel=\"alternate\" href=\"http://example.org/entries/" + n +
                "\"/>\n  <id>urn:example:" + n +
                "</id>\n  <modified>2004-05-01T10:20:30Z</modified>\n"
                "  <author><name>Alice</name><email>alice@example.org</email></author>\n"
                "  <content type=\"text/html\" mode=\"escaped\"><![CDATA[" +
                Description(i) + "]]></content>\n</entry>\n";
    }
    return text + "</feed>\n";
}

// Atom 1.0 as blogs and code hosts write it: several links per entry,
// published and updated dates with offsets, and the body as inline xhtml.
std::string MakeAtom10() {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n"
        "<title type=\"text\">Benchmark</title>\n<subtitle>A large feed</subtitle>\n"
        "<link rel=\"self\" href=\"http://example.org/feed.atom\"/>\n"
        "<link rel=\"alternate\" type=\"text/html\" href=\"http://example.org/\"/>\n"
        "<updated>2004-05-01T10:20:30+02:00</updated>\n<id>urn:example:feed</id>\n";
    for (int i = 0; i < kItems; ++i) {
        const std::string n = std::to_string(i);
        text +=
            "<entry>\n  <title type=\"html\">Entry &lt;b&gt;number&lt;/b&gt; " + n +
            "</title>\n  <link rel=\"replies\" href=\"http://example.org/entries/" + n +
            "#comments\"/>\n  <link rel=\"alternate\" type=\"text/html\" href=\"http://example.org/entries/" + n +
            "\"/>\n  <id>urn:example:" + n +
            "</id>\n  <published>2004-05-01T10:20:30.25+02:00</published>\n"
            "  <updated>2004-05-02T10:20:30Z</updated>\n"
            "  <author><name>Alice</name><email>alice@example.org</email><uri>http://example.org/alice</uri></author>\n"
            "  <category term=\"news\" label=\"News\"/>\n"
            "  <summary type=\"text\">Item " +
            n +
            " of the day</summary>\n"
            "  <content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">" +
            Description(i) + "</div></content>\n</entry>\n";
    }
    return text + "</feed>\n";
}

// RSS 2.0 as WordPress writes it: an excerpt in description, the whole post
// in content:encoded, the author in dc:creator.
std::string MakeRSSContent() {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
        "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n"
        "<title>Benchmark</title>\n<link>http://example.org/</link>\n"
        "<description>A large feed</description>\n<language>en-us</language>\n";
    for (int i = 0; i < kItems; ++i) {
        const std::string n = std::to_string(i);
        text +=
            "<item>\n  <title>Item number " + n + "</title>\n  <link>http://example.org/items/" + n +
            "</link>\n  <dc:creator><![CDATA[Alice]]></dc:creator>\n  <guid isPermaLink=\"false\">urn:example:" + n +
            "</guid>\n  <pubDate>Sat, 01 May 2004 10:20:30 -0700</pubDate>\n  <category><![CDATA[News]]></category>\n"
            "  <description><![CDATA[Item " +
            n +
            " of the day [&#8230;]]]></description>\n"
            "  <content:encoded><![CDATA[" +
            Description(i) + "]]></content:encoded>\n</item>\n";
    }
    return text + "</channel>\n</rss>\n";
}

// JSON Feed 1.1 as blogs write it: the whole post in content_html, a
// summary, a dated and authored item with tags; strings escaped as JSON.
std::string MakeJSONFeed() {
    std::string text =
        "{\n  \"version\": \"https://jsonfeed.org/version/1.1\",\n  \"title\": \"Benchmark\",\n"
        "  \"home_page_url\": \"http://example.org/\",\n  \"feed_url\": \"http://example.org/feed.json\",\n"
        "  \"description\": \"A large feed\",\n  \"language\": \"en-US\",\n  \"items\": [\n";
    for (int i = 0; i < kItems; ++i) {
        const std::string n = std::to_string(i);
        text += std::string(i ? ",\n" : "") + "    {\n      \"id\": \"urn:example:" + n +
                "\",\n      \"url\": \"http://example.org/items/" + n + "\",\n      \"title\": \"Item number " + n +
                "\",\n      \"content_html\": " + nlohmann::json(Description(i)).dump() +
                ",\n      \"summary\": \"Item " + n +
                " of the day\",\n"
                "      \"date_published\": \"2004-05-01T10:20:30-07:00\",\n"
                "      \"authors\": [{\"name\": \"Alice\", \"url\": \"http://example.org/alice\"}],\n"
                "      \"tags\": [\"News\", \"Daily\"]\n    }";
    }
    return text + "\n  ]\n}\n";
}

const std::string& JSONFeed() {
    static const std::string feed = MakeJSONFeed();
    return feed;
}

constexpr int kFormats = 4;

const std::string& Feed(int format) {
    static const std::string feeds[kFormats] = {MakeRSS(), MakeAtom(), MakeAtom10(), MakeRSSContent()};
    return feeds[format];
}

const char* FormatName(int format) {
    static const char* const names[kFormats] = {"rss20", "atom", "atom10-xhtml", "rss20-content"};
    return names[format];
}

std::string TempFile(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::string("feedlib_bench_") + name)).string();
}

// Touches every node the way a reader would: names, contents, attributes.
std::size_t WalkAll(xmlNodePtr node) {
    std::size_t touched = 0;
    while (node) {
        touched += node->name ? xmlStrlen(node->name) : 0;
        if (node->content) touched += static_cast<std::size_t>(xmlStrlen(node->content));
        for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) ++touched;
        if (node->children) {
            node = node->children;
            continue;
        }
        while (node && !node->next) node = node->parent;
        if (node) node = node->next;
    }
    return touched;
}

void BM_BareLibxml2(benchmark::State& state) {
    const std::string& text = Feed(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "feed.xml", nullptr, XML_PARSE_NONET);
        benchmark::DoNotOptimize(WalkAll(xmlDocGetRootElement(doc)));
        xmlFreeDoc(doc);
    }
    state.SetLabel(FormatName(static_cast<int>(state.range(0))));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_LoadFromString(benchmark::State& state) {
    const std::string& text = Feed(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        feed::TFeedDocument doc;
        doc.LoadFromString(text);
        if (doc.Items().Count() != kItems) state.SkipWithError("wrong item count");
    }
    state.SetLabel(FormatName(static_cast<int>(state.range(0))));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_SaveToFile(benchmark::State& state) {
    feed::TFeedDocument doc;
    doc.LoadFromString(Feed(static_cast<int>(state.range(0))));
    doc.SetXSLFileName("../rss.xsl");
    const std::string file = TempFile("save.xml");
    for (auto _ : state) doc.SaveToFile(file);
    std::filesystem::remove(file);
    state.SetLabel(FormatName(static_cast<int>(state.range(0))));
}

void BM_LoadFromFileAndSave(benchmark::State& state) {
    const std::string source = TempFile("source.xml");
    const std::string target = TempFile("target.xml");
    std::ofstream(source, std::ios::binary) << Feed(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        feed::TFeedDocument doc;
        doc.LoadFromFile(source);
        doc.SaveToFile(target);
    }
    std::filesystem::remove(source);
    std::filesystem::remove(target);
    state.SetLabel(FormatName(static_cast<int>(state.range(0))));
}

void BM_BareNlohmannJSON(benchmark::State& state) {
    const std::string& text = JSONFeed();
    for (auto _ : state) benchmark::DoNotOptimize(nlohmann::json::parse(text).size());
    state.SetLabel("jsonfeed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_LoadJSONFeed(benchmark::State& state) {
    const std::string& text = JSONFeed();
    for (auto _ : state) {
        feed::TFeedDocument doc;
        doc.LoadFromString(text);
        if (doc.Items().Count() != kItems) state.SkipWithError("wrong item count");
    }
    state.SetLabel("jsonfeed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_BareNlohmannJSON)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadJSONFeed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareLibxml2)->DenseRange(0, kFormats - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFromString)->DenseRange(0, kFormats - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveToFile)->DenseRange(0, kFormats - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFromFileAndSave)->DenseRange(0, kFormats - 1)->Unit(benchmark::kMillisecond);

// The processor time this thread has used, in seconds.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// (b) over (a), measured in alternating rounds and summarised by the
// median: on a shared machine, load from other processes comes and goes,
// and alternating keeps both sides under the same conditions.
double MedianLoadRatio(int format, int rounds) {
    const std::string& text = Feed(format);
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        const double start = ThreadSeconds();
        xmlDocPtr bare =
            xmlReadMemory(text.data(), static_cast<int>(text.size()), "feed.xml", nullptr, XML_PARSE_NONET);
        benchmark::DoNotOptimize(WalkAll(xmlDocGetRootElement(bare)));
        xmlFreeDoc(bare);
        const double middle = ThreadSeconds();
        try {
            feed::TFeedDocument doc;
            doc.LoadFromString(text);
            benchmark::DoNotOptimize(doc.Items().Count());
        } catch (const std::exception& error) {
            std::printf("%s: %s\n", FormatName(format), error.what());
            return 0;
        }
        const double end = ThreadSeconds();
        ratios.push_back((end - middle) / (middle - start));
    }
    std::sort(ratios.begin(), ratios.end());
    return ratios[ratios.size() / 2];
}

// The same for the JSON Feed, against a bare parse by nlohmann-json.
double MedianJSONLoadRatio(int rounds) {
    const std::string& text = JSONFeed();
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        const double start = ThreadSeconds();
        benchmark::DoNotOptimize(nlohmann::json::parse(text).size());
        const double middle = ThreadSeconds();
        try {
            feed::TFeedDocument doc;
            doc.LoadFromString(text);
            benchmark::DoNotOptimize(doc.Items().Count());
        } catch (const std::exception& error) {
            std::printf("jsonfeed: %s\n", error.what());
            return 0;
        }
        const double end = ThreadSeconds();
        ratios.push_back((end - middle) / (middle - start));
    }
    std::sort(ratios.begin(), ratios.end());
    return ratios[ratios.size() / 2];
}

// For profilers (valgrind --tool=callgrind counts instructions even on a
// loaded machine): one bare parse and walk, then one load, of a single
// feed, without the benchmarks or the timed rounds.
int Profile(const char* name) {
    if (std::string(name) == "jsonfeed") {
        benchmark::DoNotOptimize(nlohmann::json::parse(JSONFeed()).size());
        feed::TFeedDocument doc;
        doc.LoadFromString(JSONFeed());
        std::printf("%s: %zu items\n", name, static_cast<std::size_t>(doc.Items().Count()));
        return 0;
    }
    for (int format = 0; format < kFormats; ++format) {
        if (std::string(FormatName(format)) != name) continue;
        const std::string& text = Feed(format);
        xmlDocPtr bare =
            xmlReadMemory(text.data(), static_cast<int>(text.size()), "feed.xml", nullptr, XML_PARSE_NONET);
        benchmark::DoNotOptimize(WalkAll(xmlDocGetRootElement(bare)));
        xmlFreeDoc(bare);
        feed::TFeedDocument doc;
        doc.LoadFromString(text);
        std::printf("%s: %zu items\n", name, static_cast<std::size_t>(doc.Items().Count()));
        return 0;
    }
    std::fprintf(stderr, "unknown feed '%s'\n", name);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--profile") return Profile(argv[2]);
    benchmark::Initialize(&argc, argv);
    for (int format = 0; format < kFormats; ++format)
        std::printf("feed size %s %.1f MB\n", FormatName(format), Feed(format).size() / 1e6);
    std::printf("feed size jsonfeed %.1f MB\n", JSONFeed().size() / 1e6);
    benchmark::RunSpecifiedBenchmarks();
    for (int format = 0; format < kFormats; ++format)
        std::printf("ratio %s %.2f\n", FormatName(format), MedianLoadRatio(format, 21));
    std::printf("ratio jsonfeed %.2f\n", MedianJSONLoadRatio(21));
    benchmark::Shutdown();
    return 0;
}
