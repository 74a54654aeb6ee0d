// feedtool: a developer's look at what the feed library makes of a feed.
//
//   feedtool [--secure] [--follow] dump FILE|URL      the parsed model as JSON
//                                                     (dates with their zone)
//   feedtool [--secure] [--follow] convert IN OUT     store IN as Quillet would
//   feedtool discover ADDRESS                         the feeds ADDRESS stands for,
//                                                     as a JSON array, best first
//   feedtool extract ADDRESS                          the article the page at ADDRESS
//   feedtool extract FILE ADDRESS                     shows (or the saved page FILE,
//                                                     read as if fetched from ADDRESS),
//                                                     as HTML
//
// IN may be a file or an http(s) address, fetched exactly as the program
// fetches feeds; --secure and --follow switch on the settings of the same
// names (general\SecureFeeds, general\FollowRedirects). Exit status: 0 done,
// 1 the feed could not be fetched, read or written (message on stderr),
// 2 bad usage. discover follows redirects and fetches https whatever the
// switches say (it is what the add-feed dialog does), lists what the page
// names without fetching it, and exits 1 when it finds no feed. extract
// fetches the same way and exits 1 when the page shows no article.
#ifdef FEEDTOOL_DISCOVER
#include "Discover.h"
#endif
#ifdef FEEDTOOL_EXTRACT
#include "Extract.h"
#endif
#include "FeedDocument.h"
#include "HttpClient.h"
#include "JsonText.h"
#include "Text.h"

#include <cctype>
#include <exception>
#include <fstream>
#include <iterator>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: feedtool [--secure] [--follow] dump FILE|URL\n"
    "       feedtool [--secure] [--follow] convert IN OUT\n"
#ifdef FEEDTOOL_DISCOVER
    "       feedtool discover ADDRESS\n"
#endif
#ifdef FEEDTOOL_EXTRACT
    "       feedtool extract [FILE] ADDRESS\n"
#endif
    "  --secure   fetch https addresses (certificates verified)\n"
    "  --follow   follow redirects (at most 15)\n";

bool IsAddress(const std::string& source) {
    return plat::StartsWithNoCase(source, "http://") || plat::StartsWithNoCase(source, "https://");
}

void Load(feed::TFeedDocument& document, const std::string& source, const http::FetchOptions& options) {
    if (IsAddress(source)) {
        // Relative links in the feed are resolved against its own address.
        document.SetDocumentURL(source);
        document.LoadFromString(http::Get(source, options));
    } else
        document.LoadFromFile(source);
}

const char* FormatName(feed::TXMLType type) {
    switch (type) {
        case feed::xtRSS:
            return "rss";
        case feed::xtRDF:
            return "rdf";
        case feed::xtAtom:
            return "atom";
        case feed::xtJSON:
            return "json";
    }
    return "unknown";
}

void Field(std::ostream& out, const char* indent, const char* name, const std::string& value, bool last = false) {
    out << indent << '"' << name << "\": " << feedtool::JsonString(value) << (last ? "\n" : ",\n");
}

// A date as RFC 822 with the zone it was written in; "" when the feed
// gave none (the model's default is then the time of reading).
std::string DateText(const feed::TRFC822DateTime& date) { return date.Modified() ? date.ToRFC822() : std::string(); }

void DumpEnclosure(std::ostream& out, const feed::TRSSItemEnclosure& enclosure) {
    out << "      \"enclosure\": ";
    if (!enclosure.Include()) {
        out << "null,\n";
        return;
    }
    out << "{\"url\": " << feedtool::JsonString(enclosure.URL())
        << ", \"type\": " << feedtool::JsonString(enclosure.EnclosureType()) << ", \"length\": " << enclosure.Length()
        << "},\n";
}

void DumpCategories(std::ostream& out, const feed::TRSSItemCategories& categories) {
    out << "      \"categories\": [";
    for (int i = 0; i < categories.Count(); ++i) out << (i ? ", " : "") << feedtool::JsonString(categories[i].Title());
    out << "],\n";
}

void Dump(const feed::TFeedDocument& document, std::ostream& out) {
    const auto& channel = document.Channel().Required();
    const auto& optional = document.Channel().Optional();
    out << "{\n";
    Field(out, "  ", "format", FormatName(document.XMLType()));
    Field(out, "  ", "version", document.Version());
    Field(out, "  ", "title", channel.Title());
    Field(out, "  ", "link", channel.Link());
    Field(out, "  ", "description", channel.Desc());
    Field(out, "  ", "pubDate", DateText(optional.PubDate()));
    Field(out, "  ", "lastBuildDate", DateText(optional.LastBuildDate()));
    const auto& items = document.Items();
    out << "  \"items\": [" << (items.Count() == 0 ? "" : "\n");
    for (int i = 0; i < items.Count(); ++i) {
        const auto& item = items[i];
        out << "    {\n";
        Field(out, "      ", "title", item.Title());
        Field(out, "      ", "link", item.Link());
        Field(out, "      ", "description", item.Description());
        Field(out, "      ", "content", item.Content());
        Field(out, "      ", "author", item.Author().Name);
        Field(out, "      ", "authorEmail", item.Author().EMail);
        Field(out, "      ", "authorUri", item.Author().URL);
        DumpEnclosure(out, item.Enclosure());
        DumpCategories(out, item.Categories());
        Field(out, "      ", "guid", item.GUID().GUID());
        Field(out, "      ", "pubDate", DateText(item.PubDate()), true);
        out << "    }" << (i + 1 < items.Count() ? ",\n" : "\n  ");
    }
    out << "]\n}\n";
}

#ifdef FEEDTOOL_DISCOVER
int Discover(const std::string& input) {
    const discover::TDiscoverResult result = discover::Discover(input);
    if (!result.Ok()) {
        std::cerr << result.Error->Message << "\n";
        return 1;
    }
    std::cout << "[\n";
    for (std::size_t i = 0; i < result.Feeds.size(); ++i) {
        const auto& feed = result.Feeds[i];
        std::cout << "  {\"url\": " << feedtool::JsonString(feed.Url)
                  << ", \"title\": " << feedtool::JsonString(feed.Title)
                  << ", \"type\": " << feedtool::JsonString(feed.Type) << "}"
                  << (i + 1 < result.Feeds.size() ? ",\n" : "\n");
    }
    std::cout << "]\n";
    std::cout.flush();
    return std::cout ? 0 : 1;
}
#endif

#ifdef FEEDTOOL_EXTRACT
// args: "extract" ADDRESS, or "extract" FILE ADDRESS.
int Extract(const std::vector<std::string>& args) {
    std::string address = args.back();
    std::string page, contentType;
    try {
        if (args.size() == 3) {
            std::ifstream file(args[1], std::ios::binary);
            if (!file) {
                std::cerr << "feedtool: cannot read " << args[1] << "\n";
                return 1;
            }
            page.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        } else if (IsAddress(address)) {
            http::THttpClient client({.secureFeeds = true, .followRedirects = true});
            http::TFetchResult fetched = client.Fetch(address);
            page = std::move(fetched.Body);
            contentType = std::move(fetched.ContentType);
            // Links resolve against where the redirects ended.
            if (!fetched.EffectiveUrl.empty()) address = fetched.EffectiveUrl;
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    const extract::TArticle article = extract::ExtractArticle(page, address, contentType);
    if (!article.Found) {
        std::cerr << article.Reason << "\n";
        return 1;
    }
    std::cout << article.Html;
    std::cout.flush();
    return std::cout ? 0 : 1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    http::FetchOptions options;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--secure") {
            options.secureFeeds = true;
        } else if (arg == "--follow") {
            options.followRedirects = true;
        } else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::cerr << "feedtool: unknown option " << arg << "\n" << kUsage;
            return 2;
        } else {
            args.push_back(arg);
        }
    }
#ifdef FEEDTOOL_DISCOVER
    if (args.size() == 2 && args[0] == "discover") return Discover(args[1]);
#endif
#ifdef FEEDTOOL_EXTRACT
    if ((args.size() == 2 || args.size() == 3) && args[0] == "extract") return Extract(args);
#endif
    const bool dump = args.size() == 2 && args[0] == "dump";
    const bool convert = args.size() == 3 && args[0] == "convert";
    if (!dump && !convert) {
        std::cerr << kUsage;
        return 2;
    }

    try {
        feed::TFeedDocument document;
        Load(document, args[1], options);
        if (dump) {
            Dump(document, std::cout);
        } else {
            document.SetXSLFileName("../rss.xsl");
            document.SaveToFile(args[2]);
        }
        std::cout.flush();
        if (!std::cout) {
            std::cerr << "feedtool: could not write the output\n";
            return 1;
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    return 0;
}
