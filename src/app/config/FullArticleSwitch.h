// "Show the full article", per feed: a fullarticle="True" attribute on the
// feed's <item> element of config.xml. Without it the feed shows its own
// bodies, so lists written before the option existed load unchanged. Only
// these two functions read or write the attribute.
#pragma once

#include "XmlDom.h"

// True only for an attribute that reads as true.
bool ShowsFullArticle(const xml::Node& item);
// Off removes the attribute (the default needs none); on writes "True".
void SetShowsFullArticle(xml::Node item, bool show);
