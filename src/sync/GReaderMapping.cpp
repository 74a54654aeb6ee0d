#include "GReaderMapping.h"

#include "ItemFromFeed.h"
#include "Text.h"

#include <algorithm>
#include <cctype>

namespace greader {

namespace {

// TDateTime counts days from 30 December 1899; 1970-01-01 is day 25569.
constexpr double kUnixEpochDays = 25569.0;

// "user/<anything>/<kind>/<name>": the name when the kind matches.
std::string UserTagName(std::string_view category, std::string_view kind) {
    if (!category.starts_with("user/")) return {};
    const auto slash = category.find('/', 5);
    if (slash == std::string_view::npos) return {};
    std::string_view rest = category.substr(slash + 1);
    if (!rest.starts_with(kind) || rest.size() <= kind.size() || rest[kind.size()] != '/') return {};
    return std::string(rest.substr(kind.size() + 1));
}

}  // namespace

std::string LooseAddress(std::string_view url) {
    url = url.substr(0, url.find('#'));
    while (!url.empty() && url.front() == ' ') url.remove_prefix(1);
    while (!url.empty() && url.back() == ' ') url.remove_suffix(1);
    if (const auto scheme = url.find("://"); scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
    const std::size_t hostEnd = std::min(url.find_first_of("/?"), url.size());
    std::string host(url.substr(0, hostEnd));
    plat::AsciiLowerInPlace(host);
    for (const char* port : {":80", ":443"})
        if (host.ends_with(port)) host.resize(host.size() - std::char_traits<char>::length(port));
    if (host.starts_with("www.")) host.erase(0, 4);
    std::string rest(url.substr(hostEnd));
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    return host + rest;
}

std::string LabelName(std::string_view category) { return UserTagName(category, "label"); }

bool IsRead(const TApiItem& item) {
    for (const auto& category : item.Categories)
        if (UserTagName(category, "state") == "com.google/read") return true;
    return false;
}

TAccountFeed AccountFeedFrom(const TSubscription& subscription) {
    TAccountFeed feed{subscription.Id, subscription.Title, subscription.Url, subscription.HtmlUrl, {}};
    for (const auto& category : subscription.Categories) {
        std::string name = LabelName(category.Id);
        if (name.empty()) name = category.Label;
        if (!name.empty()) feed.Folders.push_back(std::move(name));
    }
    return feed;
}

std::unique_ptr<feed::TFeedDocument> NewFeedDocument(const TAccountFeed& account) {
    auto document = std::make_unique<feed::TFeedDocument>();
    auto& channel = document->Channel().Required();
    channel.SetTitle(account.Title);
    channel.SetLink(account.HtmlUrl.empty() ? account.Url : account.HtmlUrl);
    channel.SetDesc(account.Title);
    document->SetDocumentURL(account.Url);
    return document;
}

feed::TRSSItem& AppendItem(feed::TFeedDocument& document, const TApiItem& source) {
    feed::TRSSItem& item = document.Items().Add();
    item.SetTitle(source.Title);
    item.SetLink(source.Link);
    item.GUID().SetGUID(LongItemId(source.Id));
    item.GUID().SetIsPermaLink(false);
    item.GUID().SetInclude(true);
    // The summary is the description; a separate content is the full body.
    if (!source.Summary.empty()) {
        item.SetDescription(source.Summary);
        if (!source.Content.empty() && source.Content != source.Summary) item.SetContent(source.Content);
    } else {
        item.SetDescription(source.Content);
    }
    item.SetContentType(feed::ctHTML);
    if (!source.Author.empty()) {
        item.Author().Name = source.Author;
        item.SetAuthorModified();
    }
    if (source.Published > 0) {
        item.PubDate().SetDateTime(kUnixEpochDays + static_cast<double>(source.Published) / 86400.0);
        item.PubDate().SetTimeZone("GMT");
    }
    if (!source.Enclosures.empty()) {
        const TEnclosure& enclosure = source.Enclosures.front();
        item.Enclosure().SetURL(enclosure.Url);
        item.Enclosure().SetEnclosureType(enclosure.Type);
        item.Enclosure().SetLength(
            enclosure.Length > 0 && enclosure.Length <= 0x7fffffff ? static_cast<int>(enclosure.Length) : 0);
        item.Enclosure().SetInclude(true);
    }
    for (const auto& category : source.Categories) {
        if (category.starts_with("user/")) continue;
        item.Categories().Add().SetTitle(category);
    }
    return item;
}

items::TStoredItem StoredItemFrom(const TApiItem& item) {
    feed::TFeedDocument scratch;
    return items::StoredItemFromFeed(AppendItem(scratch, item));
}

}  // namespace greader
