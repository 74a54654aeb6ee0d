// An item's own actions in a reading pane's context menu: star or unstar
// it, read its full article. Both panes find the item under the pointer
// their own way (its star link); the actions ask the window exactly what the
// item's links ask.
#pragma once

#include <QString>

#include <functional>

class QMenu;

namespace pane {

// The actions' texts, in the user's language.
struct TItemMenuTexts {
    QString Star = QStringLiteral("Star This Item");
    QString Unstar = QStringLiteral("Remove the Star");
    QString ReadArticle = QStringLiteral("Read the full article");
};

// Adds the actions for the item whose star link is `starHref` (nothing
// when it is not one); `ask` is handed the address a link would follow.
void AddItemActions(QMenu& menu, const QString& starHref, const TItemMenuTexts& texts,
                    const std::function<void(const QString& address)>& ask);

}  // namespace pane
