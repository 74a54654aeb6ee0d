#include "ItemCursor.h"

#include <QJsonObject>
#include <QStringList>

#include "PaneProtocol.h"

namespace pane {

void TItemCursor::Reset(std::vector<TPageItem> items, int current) {
    FItems = std::move(items);
    if (FItems.empty())
        FCurrent = -1;
    else
        FCurrent = current >= 0 && current < int(FItems.size()) ? current : 0;
}

const TPageItem* TItemCursor::CurrentItem() const { return FCurrent >= 0 ? &FItems[std::size_t(FCurrent)] : nullptr; }

bool TItemCursor::MoveTo(int index) {
    if (index < 0 || index >= int(FItems.size()) || index == FCurrent) return false;
    FCurrent = index;
    return true;
}

bool TItemCursor::Next() { return MoveTo(FCurrent + 1); }

bool TItemCursor::Previous() { return FCurrent > 0 && MoveTo(FCurrent - 1); }

bool TItemCursor::NextNew() {
    for (int i = FCurrent + 1; i < int(FItems.size()); ++i)
        if (FItems[std::size_t(i)].New) return MoveTo(i);
    return false;
}

int TItemCursor::FirstNew() const {
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].New) return int(i);
    return -1;
}

int TItemCursor::IndexOfAnchor(const QString& anchor) const {
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (!anchor.isEmpty() && FItems[i].Anchor == anchor) return int(i);
    return -1;
}

int TItemCursor::IndexOfStarLink(const QString& starLink) const {
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (!starLink.isEmpty() && FItems[i].StarLink == starLink) return int(i);
    return -1;
}

std::optional<TItemCursor::TMark> TItemCursor::ToggleRead() {
    if (FCurrent < 0) return std::nullopt;
    TPageItem& item = FItems[std::size_t(FCurrent)];
    TMark mark;
    bool star = false;
    if (!ParseStarRequest(item.StarLink, mark.FeedId, mark.Key, star)) return std::nullopt;
    mark.Anchor = item.Anchor;
    mark.Read = item.New;
    item.New = !item.New;
    return mark;
}

QString TItemCursor::StateWithNew(const QString& state, const QString& newWord, bool isNew) {
    const QString separator = QStringLiteral(", ");
    QStringList words = state.split(separator, Qt::SkipEmptyParts);
    words.removeAll(newWord);
    if (isNew && !newWord.isEmpty()) words.prepend(newWord);
    return words.join(separator);
}

bool TItemCursor::Openable(const QUrl& url) {
    if (!url.isValid()) return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("mailto")) return !url.path().isEmpty();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

// A heading said aloud needs no more than this.
constexpr qsizetype kMaxTitle = 300;

QJsonArray PageItemsJson(const std::vector<TPageItem>& items, qsizetype budget) {
    QJsonArray array;
    qsizetype used = 0;
    for (const TPageItem& item : items) {
        // Quoting can at most double a field's bytes; 40 for the names.
        used += 2 * (item.Anchor.size() + item.StarLink.size() + item.Link.size() + item.Title.size()) * 3 + 48;
        if (used > budget) break;
        array.append(QJsonObject{{"anchor", item.Anchor},
                                 {"star", item.StarLink},
                                 {"link", item.Link},
                                 {"new", item.New},
                                 {"title", item.Title}});
    }
    return array;
}

std::vector<TPageItem> PageItemsFromJson(const QJsonArray& items) {
    std::vector<TPageItem> list;
    for (const QJsonValue& value : items) {
        const QJsonObject item = value.toObject();
        const QString anchor = item.value("anchor").toString();
        if (anchor.isEmpty()) continue;
        list.push_back({anchor, item.value("star").toString(), item.value("link").toString(),
                        item.value("new").toBool(), item.value("title").toString().left(kMaxTitle)});
    }
    return list;
}

}  // namespace pane
