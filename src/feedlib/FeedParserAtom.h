// Atom (root "feed"), in the vocabulary of the 0.3 era: tagline, modified,
// id, and content with a mode attribute.
#pragma once

#include "FeedParserBase.h"

namespace feed {

class TFeedParserAtom : public TFeedParserBase {
public:
    using TFeedParserBase::TFeedParserBase;
    void Parse() override;

private:
    void ReadHeader(const xml::Node& feedNode);
    void ReadBody(const xml::Node& parent, bool isFeed);
    void ReadEntry(const xml::Node& element);
    static void ReadContent(const xml::Node& content, TRSSItem& item);
    static void ReadAuthor(const xml::Node& author, TRSSItem& item);
};

}  // namespace feed
