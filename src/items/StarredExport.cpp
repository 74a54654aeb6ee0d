#include "StarredExport.h"

#include <climits>
#include <stdexcept>

#include "FeedDocument.h"

namespace items {

namespace {

// TDateTime counts days from 30 December 1899; 1970-01-01 is day 25569.
constexpr double kUnixEpochDays = 25569.0;

void SetDate(feed::TRFC822DateTime& date, const TStarredItem& item) {
    if (item.DateUTC) {
        date.SetDateTime(kUnixEpochDays + static_cast<double>(*item.DateUTC) / 86400.0);
        date.SetTimeZone("GMT");
    } else if (!item.DateText.empty()) {
        date.ParseRFC822(item.DateText);  // an unreadable text leaves no date
    }
}

void Append(feed::TFeedDocument& document, const TStarredItem& starred, const TFeedLabels& feeds) {
    feed::TRSSItem& item = document.Items().Add();
    item.SetTitle(starred.Title);
    item.SetLink(starred.Link);
    item.SetDescription(starred.Body);
    item.SetContentType(feed::ctHTML);
    // The feed's own identity for the item, so a reader that had it from
    // the feed takes it for the same item.
    item.GUID().SetGUID(starred.Guid);
    item.GUID().SetInclude(!starred.Guid.empty());
    if (!starred.Author.empty()) {
        item.Author().Name = starred.Author;
        item.SetAuthorModified();
    }
    SetDate(item.PubDate(), starred);
    const auto feed = feeds.find(starred.FeedId);
    const bool known = feed != feeds.end();
    item.Source().SetTitle(known && !feed->second.Caption.empty() ? feed->second.Caption : starred.FeedTitle);
    if (known) item.Source().SetURL(feed->second.Url);
    item.Source().SetInclude(!item.Source().Title().empty() || !item.Source().URL().empty());
}

}  // namespace

void WriteStarredFeed(const std::vector<TStarredItem>& starred, const std::string& path,
                      const TStarredChannel& channel) {
    feed::TFeedDocument document;
    auto& required = document.Channel().Required();
    required.SetTitle(kStarredChannelTitle);
    required.SetLink(channel.Link);
    required.SetDesc("Items starred in Quillet");
    for (const TStarredItem& item : starred) Append(document, item, channel.Feeds);
    try {
        document.SaveToFile(path);
    } catch (const std::exception& error) {
        throw std::runtime_error("the starred items cannot be written to \"" + path + "\": " + error.what());
    }
}

int ExportStarred(TItemStore& store, const std::string& path, const TStarredChannel& channel) {
    const std::vector<TStarredItem> starred = store.StarredItems(INT_MAX, true);
    WriteStarredFeed(starred, path, channel);
    return static_cast<int>(starred.size());
}

}  // namespace items
