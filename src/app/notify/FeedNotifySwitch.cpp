#include "FeedNotifySwitch.h"

#include "Convert.h"

namespace {
constexpr char kNotifyAttribute[] = "notify";
}

bool FeedNotifies(const xml::Node& item) {
    const std::optional<std::string> value = item.Attribute(kNotifyAttribute);
    return !value || plat::TryStrToBool(*value).value_or(true);
}

void SetFeedNotifies(xml::Node item, bool notify) {
    if (notify) {
        if (item.HasAttribute(kNotifyAttribute)) item.RemoveAttribute(kNotifyAttribute);
    } else {
        item.SetAttribute(kNotifyAttribute, plat::BoolToStr(false));
    }
}
