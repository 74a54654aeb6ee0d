// The feeds an HTML page names, without touching the network.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace discover {

// One feed found for what the person pasted.
struct TFeedCandidate {
    std::string Url;    // absolute
    std::string Title;  // as the page or the feed names it, blanks collapsed
    std::string Type;   // MIME type ("application/rss+xml", "application/feed+json")
    // The title is the feed's own, read from the feed; a page's link title
    // ("RSS", "Comments") only tells a page's feeds apart.
    bool OwnTitle = false;
    bool operator==(const TFeedCandidate&) const = default;
};

// What a page says about its feeds.
struct TPageFeeds {
    std::vector<TFeedCandidate> Feeds;  // best first
    bool YouTube = false;               // the page is one of YouTube's
};

// The feeds `html` names, best first: its feed <link>s (rel "alternate" or
// "feed", a feed type), each address resolved against the page's <base> or
// pageUrl and listed once, the site's own feeds before comment feeds before
// one post's comment feed, otherwise in the page's order; for a YouTube page
// without such links, the feeds of the playlist or channel it shows.
// contentType is the answer's Content-Type header, for its charset.
TPageFeeds ReadPageFeeds(std::string_view html, const std::string& pageUrl, std::string_view contentType = {});

inline std::vector<TFeedCandidate> FindFeedLinks(std::string_view html, const std::string& pageUrl,
                                                 std::string_view contentType = {}) {
    return ReadPageFeeds(html, pageUrl, contentType).Feeds;
}

// The encoding to read a page in: its byte order mark, else the charset of
// contentType, else the page's own <meta> declaration, else UTF-8 when the
// bytes are valid UTF-8 and windows-1252 when not (what browsers assume).
std::string PageEncoding(std::string_view html, std::string_view contentType);

}  // namespace discover
