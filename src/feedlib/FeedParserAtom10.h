// Atom 1.0 (RFC 4287; root "feed" in the namespace below): the format of
// most blogs, code hosts and video sites today. Its feed and entries are
// mapped onto the RSS-shaped model: subtitle is the description, the
// alternate link the link, published (else updated) the date, content the
// full body beside the summary, a rel="enclosure" link the enclosure.
#pragma once

#include <string>
#include <vector>

#include "FeedParserBase.h"

namespace feed {

inline constexpr const char* kAtom10Namespace = "http://www.w3.org/2005/Atom";

class TFeedParserAtom10 : public TFeedParserBase {
public:
    using TFeedParserBase::TFeedParserBase;
    void Parse() override;

private:
    struct TAuthor {
        std::string name, email, uri;
    };

    void ReadFeedElement(const std::string& name, const xml::Node& element);
    void ReadEntry(const xml::Node& element);
    void ReadLinks(const TChildLookup& children, TRSSItem& item);
    void ReadBodies(const TChildLookup& children, TRSSItem& item);
    void ReadEntrySource(const xml::Node& source, TRSSItem& item);
    void ReadChannelImage();
    static TAuthor ReadAuthor(const xml::Node& author);
    static void ReadEntryCategories(const TChildLookup& children, TRSSItem& item);

    // A text construct (title, subtitle, summary, content, rights) by its
    // type: as plain text, for names and titles ...
    static std::string PlainTextOf(const xml::Node& element);
    // ... and as HTML, for bodies (plain text is kept as written).
    static std::string BodyOf(const xml::Node& element);

    std::string FFeedNamespace;
    bool FHasAlternateLink = false;
    std::string FIcon, FLogo;
    TAuthor FFeedAuthor;
};

}  // namespace feed
