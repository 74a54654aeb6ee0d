#include "Discover.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <exception>
#include <functional>
#include <set>

#include "Address.h"
#include "FeedDocument.h"
#include "FeedParserJSON.h"
#include "FeedUtils.h"
#include "Text.h"
#include "XmlDom.h"

namespace discover {

namespace {

// The places sites keep their feeds, most common first.
constexpr const char* kWellKnownPaths[] = {"feed/",    "rss/",     "feed",      "rss",      "rss.xml",
                                           "atom.xml", "feed.xml", "index.xml", "feed.json"};

using plat::AsciiLower;

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// The body without a UTF-8 byte order mark and leading blanks.
std::string_view Start(std::string_view body) { return plat::SkipByteOrderMarkAndBlanks(body); }

const char* MimeType(feed::TXMLType type) {
    switch (type) {
        case feed::xtRSS:
            return "application/rss+xml";
        case feed::xtRDF:
            return "application/rdf+xml";
        case feed::xtAtom:
            return "application/atom+xml";
        case feed::xtJSON:
            return "application/feed+json";
    }
    return "application/xml";
}

std::optional<TFeedCandidate> ReadJsonFeed(std::string_view body, const std::string& url) {
    const nlohmann::json json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) return std::nullopt;
    const auto version = json.find("version");
    if (version == json.end() || !version->is_string() ||
        !feed::TFeedParserJSON::IsJSONFeedVersion(version->get_ref<const std::string&>()))
        return std::nullopt;
    const auto title = json.find("title");
    return TFeedCandidate{url, title != json.end() && title->is_string() ? title->get<std::string>() : "",
                          "application/feed+json", true};
}

// The name of the first element of a markup document, after its prolog
// (declaration, comments, processing instructions, doctype), in lower case.
std::string RootElementName(std::string_view text) {
    for (;;) {
        text = plat::TrimLeft(text);
        if (text.substr(0, 4) == "<!--") {
            const auto end = text.find("-->");
            if (end == std::string_view::npos) return {};
            text.remove_prefix(end + 3);
        } else if (text.substr(0, 2) == "<?" || text.substr(0, 2) == "<!") {
            const auto end = text.find('>');
            if (end == std::string_view::npos) return {};
            text.remove_prefix(end + 1);
        } else {
            break;
        }
    }
    if (text.empty() || text.front() != '<') return {};
    std::size_t end = 1;
    while (end < text.size() && !plat::IsBlank(text[end]) && text[end] != '>' && text[end] != '/') ++end;
    return AsciiLower(text.substr(1, end - 1));
}

// ReadFeed, with the reason an XML body is not a feed in `why`.
std::optional<TFeedCandidate> ReadFeedOrWhy(const std::string& body, const std::string& url, std::string& why) {
    const std::string_view start = Start(body);
    if (start.empty()) {
        why = "The answer is empty.";
        return std::nullopt;
    }
    if (start.front() == '{') {
        if (auto feed = ReadJsonFeed(start, url)) return feed;
        why = "The answer is JSON but not a JSON Feed.";
        return std::nullopt;
    }
    if (start.front() != '<') {
        why = "The answer is neither XML nor JSON.";
        return std::nullopt;
    }
    // An HTML page is no feed: say so without building an XML document of it,
    // which for a large page costs more than the rest of discovery.
    if (RootElementName(start) == "html") {
        why = "The answer is an HTML page.";
        return std::nullopt;
    }
    try {
        feed::TFeedDocument document;
        document.SetDocumentURL(url);
        document.LoadFromString(body);
        return TFeedCandidate{url, document.Channel().Required().Title(), MimeType(document.XMLType()), true};
    } catch (const std::exception& error) {
        why = error.what();
    }
    return std::nullopt;
}

// An answer that says it is a feed and is not an HTML page: if it cannot be
// read, that is the answer, not a reason to look for links in it.
bool ClaimsToBeFeed(const TFetchedPage& page) {
    std::string type = AsciiLower(page.ContentType.substr(0, page.ContentType.find(';')));
    type.erase(std::remove_if(type.begin(), type.end(), [](char c) { return plat::IsBlank(c); }), type.end());
    const bool feedType = Contains(type, "rss") || Contains(type, "atom") || Contains(type, "rdf") ||
                          type == "application/feed+json" || type == "application/xml" || type == "text/xml";
    if (!feedType) return false;
    const std::string head = AsciiLower(Start(page.Body).substr(0, 1024));
    return !Contains(head, "<html") && !Contains(head, "<!doctype html") && !Contains(head, "<head") &&
           !Contains(head, "<body");
}

std::string ReasonPhrase(const std::string& statusLine) {
    // "HTTP/1.1 403 Forbidden" -> "Forbidden"
    const auto first = statusLine.find(' ');
    if (first == std::string::npos) return {};
    const auto second = statusLine.find(' ', first + 1);
    return second == std::string::npos ? std::string() : statusLine.substr(second + 1);
}

std::string DescribeStatus(int status, const std::string& statusLine) {
    const std::string reason = ReasonPhrase(statusLine);
    const std::string code = "HTTP " + std::to_string(status) + (reason.empty() ? "" : " " + reason);
    switch (status) {
        case 401:
            return "The page asks for a login (" + code + ").";
        case 403:
            return "The server refused access (" + code +
                   "). It may block programs that are not web browsers; open the page in a browser to see why.";
        case 404:
            return "There is no page at this address (" + code + ").";
        case 410:
            return "The page has been removed (" + code + ").";
        case 429:
            return "The server is receiving too many requests (" + code + "); try again later.";
    }
    if (status >= 500) return "The server failed to answer (" + code + "); try again later.";
    if (status >= 300 && status < 400)
        return "The server answered with a redirect that could not be followed (" + code + ").";
    return "The server answered " + code + ".";
}

TPageFetcher HttpFetcher(const TDiscoverOptions& options) {
    return [options](const std::string& url, bool followRedirects) {
        http::FetchOptions fetchOptions;
        fetchOptions.secureFeeds = options.secureFeeds;
        fetchOptions.followRedirects = followRedirects;
        http::THttpClient client(fetchOptions, options.cancelToken);
        client.SetConnectTimeout(options.connectTimeout);
        client.SetStallTimeout(options.stallTimeout);
        client.SetDeadline(options.deadline);
        http::TFetchResult fetched = client.Fetch(url);
        return TFetchedPage{fetched.EffectiveUrl.empty() ? url : fetched.EffectiveUrl, std::move(fetched.ContentType),
                            std::move(fetched.Body)};
    };
}

TDiscoverError NoFeedError(const std::string& address) {
    return {TDiscoverErrorKind::NoFeed, 0,
            "No feed found: the page at " + address +
                " names none, and none of the usual feed addresses of the site gives one."};
}

// Step: the usual addresses, each fetched without following redirects (a
// site that sends unknown paths to its home page must not count as a feed).
// Only what reads as a feed counts, and one feed served at two addresses is
// listed once. A failure of the network ends the search, as every further
// address would fail the same way; a cancelled search is an error.
std::vector<TFeedCandidate> ProbeWellKnown(const TPageFetcher& fetch, const std::string& pageUrl,
                                           std::optional<TDiscoverError>& error) {
    std::vector<TFeedCandidate> feeds;
    std::set<std::size_t> bodies;
    for (const std::string& address : WellKnownFeedAddresses(pageUrl)) {
        try {
            const TFetchedPage page = fetch(address, false);
            std::string why;
            auto feed = ReadFeedOrWhy(page.Body, address, why);
            if (feed && bodies.insert(std::hash<std::string>{}(page.Body)).second) feeds.push_back(std::move(*feed));
        } catch (const http::HttpError& failure) {
            if (failure.StatusCode() != 0) continue;
            const TDiscoverError described = DescribeFetchError(failure, address);
            if (described.Kind == TDiscoverErrorKind::Cancelled) error = described;
            break;
        }
    }
    return feeds;
}

}  // namespace

std::optional<TFeedCandidate> ReadFeed(const std::string& body, const std::string& url) {
    std::string why;
    return ReadFeedOrWhy(body, url, why);
}

TDiscoverError DescribeFetchError(const http::HttpError& error, const std::string& url) {
    using Kind = TDiscoverErrorKind;
    if (error.StatusCode() != 0)
        return {Kind::HttpStatus, error.StatusCode(), DescribeStatus(error.StatusCode(), error.what())};
    const std::string message = error.what();
    const std::string lower = AsciiLower(message);
    const std::string host = HostOf(url);
    if (Contains(lower, "resolve host") || Contains(lower, "resolve proxy"))
        return {Kind::HostNotFound, 0, "The host " + host + " was not found; check the address."};
    // Before the connection's words: "SSL_connect", "SSL connection timeout".
    if (Contains(lower, "ssl") || Contains(lower, "tls") || Contains(lower, "certificate"))
        return {
            Kind::SecureFailed, 0,
            "The secure (https) connection to " + host + " failed; the server may not offer https (" + message + ")."};
    if (Contains(lower, "timed out") || Contains(lower, "took longer than") || Contains(lower, "slower than"))
        return {Kind::TimedOut, 0, "The server at " + host + " did not answer in time (" + message + ")."};
    if (Contains(lower, "connect"))
        return {Kind::ConnectionFailed, 0, "The server at " + host + " could not be reached (" + message + ")."};
    if (message == "IOHandler value is not valid")
        return {Kind::SecureRefused, 0, "Secure (https) addresses are switched off in the settings."};
    if (Contains(lower, "too large")) return {Kind::TooLarge, 0, message};
    if (message == "Download cancelled") return {Kind::Cancelled, 0, "Discovery was cancelled."};
    return {Kind::Other, 0, "The address could not be fetched: " + message};
}

std::vector<std::string> WellKnownFeedAddresses(const std::string& pageUrl) {
    std::vector<std::string> locations{feed::ResolveURL(pageUrl, "./"), feed::ResolveURL(pageUrl, "/")};
    if (locations[0] == locations[1]) locations.pop_back();
    std::vector<std::string> addresses;
    for (const std::string& location : locations)
        for (const char* path : kWellKnownPaths) addresses.push_back(feed::ResolveURL(location, path));
    return addresses;
}

TDiscoverResult Discover(std::string_view input, const TDiscoverOptions& options) {
    TDiscoverResult result;
    const std::optional<std::string> address = NormalizeAddress(input);
    if (!address) {
        result.Error = {TDiscoverErrorKind::InvalidAddress, 0,
                        "\"" + std::string(input) + "\" is not a web address; paste the address of a page or a feed."};
        return result;
    }
    const TPageFetcher fetch = options.fetcher ? options.fetcher : HttpFetcher(options);

    // Discovery is asked for by the person, so redirects are followed whatever
    // the setting for polling says; what is kept is where they lead.
    TFetchedPage page;
    try {
        page = fetch(*address, true);
    } catch (const http::HttpError& error) {
        result.Error = DescribeFetchError(error, *address);
    }
    // A bare host was tried as https; a site that serves only http answers
    // there. Only a server that was not found, or one that answered over
    // https, is not asked again.
    using Kind = TDiscoverErrorKind;
    if (result.Error && IsBareHost(input) && result.Error->Kind != Kind::HostNotFound &&
        result.Error->Kind != Kind::HttpStatus && result.Error->Kind != Kind::Cancelled) {
        const std::string plain = "http://" + address->substr(std::string_view("https://").size());
        const TDiscoverError secure = *result.Error;
        try {
            page = fetch(plain, true);
            result.Error.reset();
        } catch (const http::HttpError& error) {
            result.Error = DescribeFetchError(error, plain);
            if (result.Error->Kind != Kind::Cancelled)
                result.Error->Message = "Neither https nor http worked for " + HostOf(plain) +
                                        ". https: " + secure.Message + " http: " + result.Error->Message;
        }
    }
    if (result.Error) return result;
    result.Address = page.Url.empty() ? *address : page.Url;

    // Step: the address is itself a feed.
    std::string why;
    if (auto feed = ReadFeedOrWhy(page.Body, result.Address, why)) {
        result.Feeds.push_back(std::move(*feed));
        return result;
    }
    if (ClaimsToBeFeed(page)) {
        result.Error = {TDiscoverErrorKind::UnreadableFeed, 0, "The address gives a feed that cannot be read: " + why};
        return result;
    }

    // Steps: the page's feed links, then YouTube's rules.
    const TPageFeeds named = ReadPageFeeds(page.Body, result.Address, page.ContentType);
    result.Feeds = named.Feeds;
    if (!result.Feeds.empty() || named.YouTube) {
        if (result.Feeds.empty()) result.Error = NoFeedError(result.Address);
        return result;
    }

    // Step: the usual places.
    result.Feeds = ProbeWellKnown(fetch, result.Address, result.Error);
    if (result.Error)
        result.Feeds.clear();
    else if (result.Feeds.empty())
        result.Error = NoFeedError(result.Address);
    return result;
}

std::optional<std::string> FeedFileAddress(const std::string& body) {
    // JSON Feed names itself in feed_url, its site in home_page_url.
    if (plat::SkipByteOrderMarkAndBlanks(body, plat::Blanks::Xml).starts_with('{')) {
        const nlohmann::json feed = nlohmann::json::parse(body, nullptr, false);
        if (!feed.is_object()) return std::nullopt;
        for (const char* key : {"feed_url", "home_page_url"}) {
            const auto found = feed.find(key);
            if (found != feed.end() && found->is_string() && !found->get<std::string>().empty())
                return found->get<std::string>();
        }
        return std::nullopt;
    }
    // RSS and Atom: the self link (an atom:link in RSS's channel, a link of
    // the Atom feed), else the site the feed belongs to.
    xml::Document doc;
    try {
        doc.LoadFromString(body);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const xml::Node root = doc.DocumentElement();
    std::vector<xml::Node> heads{root};
    for (const xml::Node& child : root.ChildElements())
        if (child.LocalName() == "channel") heads.push_back(child);
    std::optional<std::string> site;
    for (const xml::Node& head : heads) {
        for (const xml::Node& child : head.ChildElements()) {
            if (child.LocalName() != "link") continue;
            const std::string rel = child.Attribute("rel").value_or("");
            const std::string href = child.Attribute("href").value_or("");
            if (rel == "self" && !href.empty()) return href;
            if (!site && (rel.empty() || rel == "alternate") && !href.empty()) site = href;
            if (!site && !child.HasAttribute("href")) {
                std::string text;
                try {
                    text = child.Text();
                } catch (const std::exception&) {
                }
                if (!text.empty()) site = text;
            }
        }
    }
    return site;
}

}  // namespace discover
