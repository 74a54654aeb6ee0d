// The window's side of full articles: a feed's finished update and the
// page's "Read the full article" links reach the article controller, which
// reaches the item store and the page back through the window.
#include "fMain.h"

#include "ArticleController.h"
#include "FeedPageController.h"
#include "FeedTree.h"
#include "ReadStateController.h"

void TFormMain::ConnectArticles() {
    TArticleController::THost host;
    host.Store = [this] { return FItems->Store(); };
    host.ShowsFullArticle = [this](const std::string& id) {
        const feedlist::TListEntry* feed = FFeedList->FindFeed(id);
        return feed && feed->Feed().FullArticle;
    };
    host.ShownFeedId = [this] { return FItems->ShownPage().FeedId; };
    host.ShowPage = [this](const std::string& id, const std::string& key) {
        Guarded([&] {
            if (key.empty())
                FPage->Show(id);
            else
                FItems->ShowFeedItem(id, key);
        });
    };
    host.ShowStatus = [this](const QString& text) { SetStatusText(0, text); };
    FArticles = new TArticleController(std::move(host), {}, this);
    connect(this, &TFormMain::feedUpdateFinished, FArticles,
            [this](const QString& id) { Guarded([&] { FArticles->FeedUpdated(id.toStdString()); }); });
    // No fetch outlives the window's close.
    connect(this, &TFormMain::formClosed, FArticles, &TArticleController::Stop);
}
