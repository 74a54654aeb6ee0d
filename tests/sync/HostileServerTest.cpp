// A Google Reader API server that means harm: lists that never end, lists
// too long to hold, ids that cannot be stored as sent. Each costs a bounded
// number of requests and ends as a failing sync (or one that takes nothing
// it did not ask for), with a state that stays small.
#include "AccountSync.h"

#include "FakeReader.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

using greader::TSyncErrorKind;
using testsupport::Request;
using testsupport::Response;

namespace {

constexpr const char* kSubscriptions =
    R"({"subscriptions":[{"id":"feed/1","title":"One","url":"http://x/1.xml","categories":[]}]})";

std::string Item(const std::string& id, const std::string& stream = "feed/1") {
    return R"({"id":")" + id + R"(","title":"t","timestampUsec":"1700000000000000","origin":{"streamId":")" + stream +
           R"("}})";
}

struct Hostile {
    const char* name;
    // The reading list's ids: a page for the continuation "" and those after.
    std::function<std::string(const std::string& continuation)> ids;
    std::function<std::string(const Request&, int hit)> contents;
    std::string subscriptions = kSubscriptions;
    bool fails = true;  // else: the sync ends well, having taken nothing unasked
};

std::string IdsFrom(int first, int count, const std::string& continuation) {
    std::string body = "{\"itemRefs\":[";
    for (int i = 0; i < count; ++i) body += (i ? ",{\"id\":\"" : "{\"id\":\"") + std::to_string(first + i) + "\"}";
    return body + "]" + (continuation.empty() ? "" : ",\"continuation\":\"" + continuation + "\"") + "}";
}

}  // namespace

TEST(HostileServer, RunawayListsAndBadIdsCostBoundedRequestsAndFailTheSync) {
    const auto oneIdPage = [](const std::string&) { return IdsFrom(1, 1, ""); };
    const auto thousandIds = [](const std::string&) { return IdsFrom(1, 1000, ""); };
    const Hostile cases[] = {
        {"contents: each answer the next asked item and a fresh continuation", thousandIds,
         [](const Request& r, int hit) {
             const auto asked = r.FormValues("i");
             return "{\"items\":[" + Item(asked[hit % asked.size()]) + "],\"continuation\":\"c" + std::to_string(hit) +
                    "\"}";
         }},
        {"contents: each answer an item never asked for and a fresh continuation", oneIdPage,
         [](const Request&, int hit) {
             return "{\"items\":[" + Item(std::to_string(1000 + hit)) + "],\"continuation\":\"c" + std::to_string(hit) +
                    "\"}";
         },
         kSubscriptions, false},
        {"ids: one fresh id a page, for ever",
         [](const std::string& c) {
             const int n = c.empty() ? 1 : std::stoi(c);
             return IdsFrom(n, 1, std::to_string(n + 1));
         },
         [](const Request&, int) { return std::string("{\"items\":[]}"); }},
        {"ids: more than any account holds, in one answer", [](const std::string&) { return IdsFrom(1, 260'000, ""); },
         [](const Request&, int) { return std::string("{\"items\":[]}"); }},
        {"a subscription's stream id with a NUL", oneIdPage,
         [](const Request&, int) { return "{\"items\":[" + Item("1") + "]}"; },
         R"({"subscriptions":[{"id":"feed/1\u0000x","title":"One","url":"http://x/1.xml"}]})"},
        {"an item's stream id with a line feed", oneIdPage,
         [](const Request&, int) { return "{\"items\":[" + Item("1", "feed/1\\n") + "]}"; }},
        {"an item id with a control character", oneIdPage,
         [](const Request&, int) { return "{\"items\":[" + Item("\\u00011") + "]}"; }},
    };
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::LoopbackServer server;
        synctest::AddSignIn(server);
        server.AddEndpoint(synctest::ApiPath("subscription/list"), 200, {}, c.subscriptions);
        server.AddEndpoint(synctest::ApiPath("tag/list"), 200, {}, R"({"tags":[]})");
        server.AddHandler(synctest::ApiPath("stream/items/ids"), [&](const Request& r) {
            Response response;
            response.body = c.ids(r.FormValue("c"));
            return response;
        });
        std::atomic<int> hits{0};
        server.AddHandler(synctest::ApiPath("stream/items/contents"), [&](const Request& r) {
            Response response;
            response.body = c.contents(r, hits++);
            return response;
        });
        testsupport::TempFolder folder;
        auto store = items::TItemStore::Open(folder.File("items.db")).Store;
        greader::TAccountSync sync({"acct", server.Url(synctest::kApi), "alice", "secret"}, *store,
                                   folder.File("acct.json"));
        int delivered = 0;
        const auto result = sync.Sync([&](greader::TFeedBatch& batch) {
            delivered += static_cast<int>(batch.Items.size());
            for (const auto& item : batch.Items) EXPECT_LE(item.Id, 1000u);  // only what was asked for
        });
        EXPECT_LE(server.NumRequests(), 260);
        EXPECT_LE(std::filesystem::file_size(folder.File("acct.json")), 100'000u);
        EXPECT_EQ(result.Ok, !c.fails);
        if (c.fails) {
            ASSERT_TRUE(result.Error.has_value());
            EXPECT_EQ(result.Error->Kind(), TSyncErrorKind::Malformed) << result.Error->what();
            EXPECT_TRUE(result.NextAttempt.has_value());  // the account shows as failing and waits
        } else {
            EXPECT_EQ(delivered, 0);
        }
    }
}
