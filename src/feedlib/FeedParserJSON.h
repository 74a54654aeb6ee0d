// JSON Feed 1.0 and 1.1 (a JSON object whose version starts with
// "https://jsonfeed.org/version/1", or "http://"): the format of Micro.blog, many static
// site generators and some podcasts. Mapped onto the RSS-shaped model:
// home_page_url is the link, icon (else favicon) the image, summary the
// description, content_html (else content_text written as HTML) the full
// body, date_published (else date_modified) the date, authors (1.1) or
// author (1.0) the author, the first attachment the enclosure, tags the
// categories and id the guid.
//
// Feeds come from anyone: the text is bounded in size and nesting depth
// before any tree is built, and a field of the wrong type is skipped (a
// number where a text belongs is taken as its text), never an error.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "FeedParserBase.h"

namespace feed {

class TFeedParserJSON : public TFeedParserBase {
public:
    // The bounds XML documents have too: the largest download a feed may
    // be, and a nesting depth no feed needs.
    static constexpr std::size_t kMaxDocumentSize = 32u * 1024 * 1024;
    static constexpr int kMaxDepth = 256;

    // True when `text` is JSON rather than XML: its first character after a
    // byte order mark and blanks opens an object or an array.
    static bool LooksLikeJSON(std::string_view text);

    // Parses `text` within the bounds above. Raises TFeedException for text
    // past a bound or that is no JSON, with the place of the fault.
    TFeedParserJSON(TFeedDocument& rss, std::string_view text);
    ~TFeedParserJSON() override;

    // A version this parser reads: 1 or 1.x at jsonfeed.org, over https or
    // http. A later major version may mean something else by the same
    // fields.
    static bool IsJSONFeedVersion(std::string_view version);
    // The parsed JSON names a JSON Feed version this parser reads.
    bool IsJSONFeed() const;
    void Parse() override;

private:
    struct TAuthor {
        std::string name, url;
    };

    void ReadChannelImage(nlohmann::json& feed);
    void ReadItem(nlohmann::json& entry, const TAuthor& feedAuthor);
    static void ReadBodies(nlohmann::json& entry, TRSSItem& item);
    void ReadEnclosure(nlohmann::json& entry, TRSSItem& item) const;
    static TAuthor ReadAuthor(nlohmann::json& object);
    // A reference from the feed made absolute against the address the feed
    // was downloaded from, when it has one.
    std::string Resolved(std::string reference) const;

    std::unique_ptr<nlohmann::json> FRoot;
};

}  // namespace feed
