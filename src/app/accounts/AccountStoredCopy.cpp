#include "AccountStoredCopy.h"

#include <filesystem>
#include <set>

namespace accountsync {

void CopyItem(const feed::TRSSItem& from, feed::TRSSItem& to) {
    to.SetTitle(from.Title());
    to.SetLink(from.Link());
    to.SetDescription(from.Description());
    if (!from.Content().empty()) to.SetContent(from.Content());
    to.SetContentType(from.ContentType());
    if (!from.Comments().empty()) to.SetComments(from.Comments());
    to.GUID().SetGUID(from.GUID().GUID());
    to.GUID().SetIsPermaLink(from.GUID().IsPermaLink());
    to.GUID().SetInclude(from.GUID().Include());
    if (!from.Author().Name.empty() || !from.Author().EMail.empty()) {
        to.Author() = from.Author();
        to.SetAuthorModified();
    }
    // Only a date the item carried is written again; an undated item stays
    // undated instead of taking the time of this sync.
    if (from.PubDate().Modified()) {
        to.PubDate().SetDateTime(from.PubDate().DateTime());
        to.PubDate().SetTimeZone(from.PubDate().TimeZone());
    }
    if (from.Enclosure().Include()) {
        to.Enclosure().SetURL(from.Enclosure().URL());
        to.Enclosure().SetEnclosureType(from.Enclosure().EnclosureType());
        to.Enclosure().SetLength(from.Enclosure().Length());
        to.Enclosure().SetInclude(true);
    }
    if (from.Source().Include()) {
        to.Source().SetTitle(from.Source().Title());
        to.Source().SetURL(from.Source().URL());
        to.Source().SetInclude(true);
    }
    for (int i = 0; i < from.Categories().Count(); ++i) {
        feed::TRSSItemCategory& category = to.Categories().Add();
        category.SetTitle(from.Categories()[i].Title());
        if (!from.Categories()[i].Domain().empty()) category.SetDomain(from.Categories()[i].Domain());
    }
}

void AppendPreviousItems(feed::TFeedDocument& fresh, const std::string& path, int limit) {
    std::error_code ignored;
    if (fresh.Items().Count() >= limit || !std::filesystem::exists(path, ignored)) return;
    feed::TFeedDocument previous;
    try {
        previous.LoadFromFile(path);
    } catch (const std::exception&) {
        return;
    }
    std::set<std::string> present;
    for (int i = 0; i < fresh.Items().Count(); ++i) present.insert(fresh.Items()[i].GUID().GUID());
    for (int i = 0; i < previous.Items().Count() && fresh.Items().Count() < limit; ++i) {
        const feed::TRSSItem& item = previous.Items()[i];
        if (!item.GUID().GUID().empty() && !present.insert(item.GUID().GUID()).second) continue;
        CopyItem(item, fresh.Items().Add());
    }
}

}  // namespace accountsync
