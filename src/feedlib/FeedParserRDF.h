// RSS 1.0 and 0.90 (root "rdf:RDF"): the channel holds only its title,
// link and description; items, image and the rest stand beside it.
#pragma once

#include <string>

#include "FeedParserBase.h"

namespace feed {

class TFeedParserRDF : public TFeedParserBase {
public:
    using TFeedParserBase::TFeedParserBase;
    void Parse() override;

private:
    void ReadChannel(const xml::Node& channel);
    void ReadItem(const xml::Node& element);

    std::string FVocabulary;
};

}  // namespace feed
