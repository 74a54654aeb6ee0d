// A small feed that names a large entity thousands of times: the update
// fails quickly with a message naming the cause, and the stored copy stays
// as it was instead of growing to hundreds of megabytes at every poll.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "AppTestSupport.h"
#include "LoopbackServer.h"
#include "UpdateRig.h"

namespace {

TEST(AmplifyingFeed, UpdateFailsQuicklyAndKeepsTheStoredCopy) {
    apptest::TStagedHome home;
    apptest::TUpdateRig rig;

    // About 80 KB on the wire, 240 MB once expanded.
    std::string feed = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY big \"" + std::string(60000, 'x') +
                       "\">]><rss version=\"2.0\"><channel><title>Big</title><item><title>";
    for (int i = 0; i < 4000; ++i) feed += "&big;";
    feed += "</title></item></channel></rss>";
    testsupport::LoopbackServer server;
    server.AddEndpoint("/feed", 200, {{"Content-Type", "application/rss+xml"}}, feed);

    const std::string previous =
        "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Kept</title>"
        "<item><title>Old</title></item></channel></rss>\n";
    home.WriteFile("feeds/3.xml", previous);
    rig.AddStoredFeed({{"url", server.Url("/feed")}, {"id", "3"}, {"caption", "Kept"}, {"unread", "1"}});

    const auto start = std::chrono::steady_clock::now();
    rig.Updates().UpdateFeed("3");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    const std::string status = rig.Status().toStdString();
    EXPECT_EQ(status.rfind("Could not update Kept (1) - ", 0), 0u) << status;
    EXPECT_NE(status.find("entity expansion limit"), std::string::npos) << status;
    EXPECT_EQ(home.ReadFile("feeds/3.xml"), previous);
    EXPECT_EQ(rig.Feed("3").Unread, 1);
}

}  // namespace
