#include "FullArticleSwitch.h"

#include "Convert.h"

namespace {
constexpr char kFullArticleAttribute[] = "fullarticle";
}

bool ShowsFullArticle(const xml::Node& item) {
    const std::optional<std::string> value = item.Attribute(kFullArticleAttribute);
    return value && plat::TryStrToBool(*value).value_or(false);
}

void SetShowsFullArticle(xml::Node item, bool show) {
    if (show)
        item.SetAttribute(kFullArticleAttribute, plat::BoolToStr(true));
    else if (item.HasAttribute(kFullArticleAttribute))
        item.RemoveAttribute(kFullArticleAttribute);
}
