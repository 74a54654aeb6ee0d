#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ItemTestSupport.h"

using namespace items;
using itemtest::Item;

namespace {

TItemArticle Fetched(const std::string& feed, const std::string& key, const std::string& html, std::int64_t at) {
    return {feed, key, {TArticleState::Fetched, html, "Extracted title", "A. Writer", TArticleReason::None, "", at}};
}

TItemArticle Unusable(const std::string& feed, const std::string& key, TArticleState state, TArticleReason reason,
                      std::int64_t at) {
    return {feed, key, {state, "", "", "", reason, "HTTP/1.1 404 Not Found", at}};
}

std::vector<std::string> Keys(const std::vector<TArticleWork>& work) {
    std::vector<std::string> keys;
    for (const TArticleWork& w : work) keys.push_back(w.FeedId + "/" + w.Key);
    return keys;
}

}  // namespace

// Each test runs over the FTS5 index and over the LIKE fallback.
class Articles : public itemtest::StoreTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { options.FullText = GetParam(); }
};

// A base the first schema version wrote (tests/data/items/items_v1.db,
// rows still waiting for the word index) takes articles in place.
TEST_P(Articles, OldBaseUpgradesKeepsItsItemsAndTakesArticlesThatSurviveReopening) {
    std::filesystem::copy_file(ITEMS_TEST_DATA "/items_v1.db", DbPath());
    EXPECT_EQ(Store().UnreadCounts(), (std::map<std::string, int>{{"1", 2}, {"7", 1}}));
    EXPECT_EQ(Store().ItemCount("1"), 3);
    EXPECT_EQ(Store().Search("lighthouse", 10).size(), 1u);
    EXPECT_EQ(Store().Pending("acct").size(), 1u);
    EXPECT_EQ(Store().Article("1", "g:a1").State, TArticleState::None);
    EXPECT_EQ(ArticleReasonFromCode("a-code-from-a-later-version"), TArticleReason::Other);

    const std::vector<TItemArticle> written = {
        Fetched("1", "g:a1", "<p>Keepers polished the <b>fresnel</b> lens.</p>", 7000),
        Fetched("1", "g:unknown", "<p>fresnel</p>", 7000),
        Unusable("7", "g:b1", TArticleState::Failed, TArticleReason::HttpStatus, 7000)};
    EXPECT_EQ(Store().StoreArticles(written), 2) << "an item the store no longer holds is passed by";
    EXPECT_EQ(Store().Search("fresnel", 10).size(), 1u) << "a word only the article holds";
    EXPECT_EQ(Store().Search("keepers lens", 10).size(), 1u);
    EXPECT_EQ(Store().Search("lighthouse fresnel", 10).size(), 0u) << "all words from one text";

    store.reset();
    EXPECT_EQ(Store().CheckIntegrity(), "ok");
    EXPECT_EQ(Store().Article("1", "g:a1"), written[0].Article);
    EXPECT_EQ(Store().Article("7", "g:b1"), written[2].Article);
    EXPECT_EQ(Store().Search("fresnel", 10).size(), 1u) << "the article is found after a restart";

    // A better result replaces the failure, and the article goes with its item.
    Store().StoreArticles({Fetched("7", "g:b1", "<p>Spring tides</p>", 8000)});
    EXPECT_EQ(Store().Search("spring", 10).size(), 1u);
    Store().ForgetFeed("7");
    Store().ForgetFeed("1");
    EXPECT_EQ(Store().Search("spring", 10).size(), 0u);
    EXPECT_EQ(Store().Search("fresnel", 10).size(), 0u);
    EXPECT_EQ(Store().CheckIntegrity(), "ok");
}

TEST_P(Articles, FailuresAreOfferedAgainOnceADay) {
    constexpr std::int64_t kNow = 10 * 24 * 3600, kDay = TItemStore::kArticleRetrySeconds;
    std::vector<TStoredItem> feed = {
        Item("never", "http://a/1", "Never tried", 60),          Item("fetched", "http://a/2", "Fetched", 50),
        Item("kept", "http://a/3", "Kept summary", 40),          Item("failed-now", "http://a/4", "Failed lately", 30),
        Item("failed-old", "http://a/5", "Failed long ago", 20), Item("no-link", "", "No link", 10),
        Item("gone", "http://a/7", "Left the feed", 5)};
    Store().RecordDownload("1", feed, 1);
    feed.pop_back();
    Store().RecordDownload("1", feed, 2);
    Store().RecordDownload("2", {Item("other", "http://b/1", "Other feed", 70)}, 1);
    Store().RecordDownload("3", {Item("not-asked", "http://c/1", "Feed without full text", 80)}, 1);
    Store().StoreArticles({Fetched("1", "g:fetched", "<p>x</p>", kNow - 2 * kDay),
                           Unusable("1", "g:kept", TArticleState::KeptSummary, TArticleReason::ShorterThanFeed, 0),
                           Unusable("1", "g:failed-now", TArticleState::Failed, TArticleReason::TimedOut, kNow - 3600),
                           Unusable("1", "g:failed-old", TArticleState::Failed, TArticleReason::Network, kNow - kDay)});

    struct Case {
        std::vector<std::string> feeds;
        std::int64_t now;
        int limit;
        std::vector<std::string> keys;
    };
    const std::vector<Case> cases = {
        {{"1", "2"}, kNow, 10, {"1/g:never", "1/g:failed-old", "2/g:other"}},
        {{"1"}, kNow - 3600 + kDay, 10, {"1/g:never", "1/g:failed-now", "1/g:failed-old"}},
        {{"2", "1"}, kNow, 2, {"2/g:other", "1/g:never"}},
        {{"1"}, kNow, 0, {}},
        {{}, kNow, 10, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Keys(Store().ItemsWantingArticle(c.feeds, c.now, c.limit)), c.keys) << c.now << " " << c.limit;
    }
    EXPECT_EQ(Store().ItemsWantingArticle({"1"}, kNow, 1).at(0).Link, "http://a/1");
}

INSTANTIATE_TEST_SUITE_P(IndexAndFallback, Articles, ::testing::Bool());
