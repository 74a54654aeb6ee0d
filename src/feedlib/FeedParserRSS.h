// RSS 0.9x and 2.0 (root "rss"), and the copies Quillet stores itself.
#pragma once

#include "FeedParserBase.h"

namespace feed {

class TFeedParserRSS : public TFeedParserBase {
public:
    using TFeedParserBase::TFeedParserBase;
    void Parse() override;

private:
    void ReadChannel(const xml::Node& channel);
    void ReadItem(const xml::Node& element);
};

}  // namespace feed
