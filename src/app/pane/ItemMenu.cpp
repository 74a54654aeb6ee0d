#include "ItemMenu.h"

#include <QMenu>

#include "PaneProtocol.h"

namespace pane {

void AddItemActions(QMenu& menu, const QString& starHref, const TItemMenuTexts& texts,
                    const std::function<void(const QString& address)>& ask) {
    QString feedId, key;
    bool star = false;
    if (!ParseStarRequest(starHref, feedId, key, star)) return;
    menu.addSeparator();
    menu.addAction(star ? texts.Star : texts.Unstar, [ask, starHref] { ask(starHref); });
    menu.addAction(texts.ReadArticle, [ask, article = ArticleRequestAddress(feedId, key)] { ask(article); });
}

}  // namespace pane
