// The read state's controller on its own: a feed list as config.xml holds
// it, a host that records what the window would be asked, and a real
// items.db in a staged home.
#include <QJsonArray>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "ItemBase.h"
#include "ItemStore.h"
#include "FeedListModel.h"
#include "ReadStateController.h"
#include "XmlDom.h"

namespace {

using apptest::TStagedHome;
using apptest::WaitUntil;

class ReadStateControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& [id, caption] : {std::pair{1, "Harbour"}, std::pair{2, "Quay"}, std::pair{3, ""}})
            list.AddFeed(list.Root(), apptest::FeedEntry(id, {}, caption));
        TReadStateHost host;
        host.ShowStatus = [this](const QString& text) { status = text.toStdString(); };
        host.FeedList = &list;
        host.FeedIds = [] { return std::vector<std::string>{"1", "2", "3"}; };
        host.VisibleFeedsAfterCurrent = [this] {
            std::vector<std::string> ids{"1", "2", "3"};
            const auto at = std::find(ids.begin(), ids.end(), current);
            if (at != ids.end()) std::rotate(ids.begin(), at + 1, ids.end());
            return ids;
        };
        host.CurrentFeedId = [this] { return current; };
        host.ShowFeed = [this](const std::string& id) { current = id, shown.push_back(id); };
        host.CountsChanged = [this](const std::vector<std::string>& ids) {
            counted.insert(counted.end(), ids.begin(), ids.end());
        };
        host.FeedItemsRead = [this](const std::string& id, const std::vector<std::string>& keys) { sent[id] = keys; };
        host.FeedItemsUnread = [](const std::string&) {};
        host.FeedCaption = [](const std::string& id) { return QString::fromStdString(id); };
        host.Closing = [] { return false; };
        controller = std::make_unique<TReadStateController>(std::move(host), nullptr);
    }

    const feedlist::TFeedEntry& Feed(const std::string& id) { return list.FindFeed(id)->Feed(); }
    std::string Unread(const std::string& id) { return std::to_string(Feed(id).Unread); }
    void SetUnread(const std::string& id, const std::string& count) {
        list.UpdateFeed(*list.FindFeed(id), [&count](feedlist::TFeedEntry& feed) { feed.Unread = std::stoll(count); });
    }
    void Record(const std::string& id, const std::vector<std::string>& guids) {
        std::vector<items::TStoredItem> stored;
        for (const std::string& guid : guids) stored.push_back({guid, "", guid, "", std::nullopt, "", ""});
        controller->With([&](items::TItemStore& store) { store.RecordDownload(id, stored, 1'700'000'000); });
        SetUnread(id, std::to_string(controller->Store()->UnreadCount(id)));
    }

    TStagedHome home;
    feedlist::TFeedList list;
    std::string status, current;
    std::vector<std::string> shown, counted;
    std::map<std::string, std::vector<std::string>> sent;
    std::unique_ptr<TReadStateController> controller;
};

TEST_F(ReadStateControllerTest, APageMarksReadWhatItShowedOnceOnShow) {
    controller->Open();
    ASSERT_TRUE(WaitUntil([&] { return controller->Store() != nullptr; }));
    Record("2", {"a", "b"});

    QJsonObject marks;
    controller->ShowPage(Feed("2"), [&](const QJsonObject& given) {
        marks = given;
        return qint64(7);
    });
    EXPECT_EQ(marks.value("unread").toArray().size(), 2);
    EXPECT_EQ(marks.value("caption").toString().toStdString(), "Quay");
    Record("2", {"a", "b", "c"});  // arrived after the page was asked for

    controller->PageShown(6);  // an earlier page: nothing
    EXPECT_EQ(Unread("2"), "3");
    controller->PageShown(7);
    EXPECT_EQ(Unread("2"), "1");
    EXPECT_EQ(sent["2"].size(), 2u);
    EXPECT_EQ(counted, std::vector<std::string>{"2"});
    EXPECT_TRUE(controller->ShownPage().Marked);

    controller->MarkFeedsUnread({"2"});
    EXPECT_EQ(Unread("2"), "3");
    controller->MarkFeedsRead({"1", "2"});
    EXPECT_EQ(Unread("2"), "0");
    EXPECT_EQ(controller->Store()->UnreadCount("2"), 0);
    EXPECT_TRUE(controller->DropShownPage("2"));
    EXPECT_FALSE(controller->DropShownPage("2"));
}

TEST_F(ReadStateControllerTest, NextUnreadGoesRoundFromTheSelection) {
    struct Case {
        const char* name;
        std::string current, unread1, unread2, unread3;
        std::string expected;  // "" for none
    } cases[] = {
        {"from nothing selected", "", "0", "4", "1", "2"}, {"after the selection", "2", "0", "4", "1", "3"},
        {"wrapping round", "3", "5", "0", "1", "1"},       {"the selection itself again", "2", "0", "4", "0", "2"},
        {"none unread", "1", "0", "0", "0", ""},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        current = each.current;
        shown.clear();
        status.clear();
        SetUnread("1", each.unread1);
        SetUnread("2", each.unread2);
        SetUnread("3", each.unread3);
        EXPECT_EQ(controller->SelectNextUnread(), !each.expected.empty());
        EXPECT_EQ(shown, each.expected.empty() ? std::vector<std::string>{} : std::vector{each.expected});
        EXPECT_EQ(status.empty(), !each.expected.empty());
    }
    // Without a base, marking read is the counts alone.
    SetUnread("1", "2");
    controller->MarkFeedsRead({"1", "2", "3"});
    EXPECT_EQ(counted, std::vector<std::string>{"1"});
}

}  // namespace

namespace {

TEST_F(ReadStateControllerTest, DeletedFeedsKeepTheirStarredItemsUnderTheirLastName) {
    controller->Open();
    ASSERT_TRUE(WaitUntil([&] { return controller->Store() != nullptr; }));
    for (const std::string id : {"1", "2", "3"}) Record(id, {"s" + id, "t" + id});
    for (const std::string id : {"1", "2", "3"}) controller->Store()->SetItemStarred(id, "g:s" + id, true, "Old " + id);
    // Still listed when forgotten: named as now (the host calls a feed by
    // its id here); no longer listed: as the store last heard.
    controller->ForgetFeed("1");
    list.Remove(*list.FindFeed("3"));
    controller->ForgetFeeds({"2", "3"});
    std::map<std::string, std::string> names;
    for (const items::TStarredItem& item : controller->Store()->StarredItems(10)) names[item.FeedId] = item.FeedTitle;
    EXPECT_EQ(names, (std::map<std::string, std::string>{{"1", "1"}, {"2", "2"}, {"3", "Old 3"}}));
}

}  // namespace
