// A FreshRSS account through the window: the first sync of 200 feeds and
// 10,000 items (time, the longest hold of the window's thread), unchanged
// syncs (requests, bytes), and the resident memory after the first sync
// beside a window holding the same feeds as local ones. Not a test; run by
// hand: account_bench [feeds [items-per-feed]].
//
// Each window runs in a process of its own (this program started again with
// "account" or "local"), so both memory figures carry the same overhead and
// nothing of the server side.
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "AccountController.h"
#include "AccountList.h"
#include "Options.h"
#include "FeedListXml.h"
#include "FeedList.h"
#include "AccountSyncRunner.h"
#include "FreshRss.h"
#include "ItemBase.h"
#include "LoopbackServer.h"
#include "ReadStateController.h"
#include "UpdateController.h"
#include "TempFolder.h"
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>

#include "FeedListController.h"
#include "FeedTree.h"
#include "ReadingPane.h"
#include "TrayIcon.h"
#include "fMain.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const fs::path kStage = QUILLET_STAGE_DIR;
constexpr const char* kAccount = "bench@freshrss";

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

bool ProcessEventsUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done() && Clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

void StageHome(const fs::path& dir) {
    fs::create_directories(dir / "feeds");
    fs::copy(kStage / "languages", dir / "languages", fs::copy_options::recursive);
    fs::copy_file(kStage / "config.default.xml", dir / "config.xml");
    fs::copy_file(kStage / "rss.xsl", dir / "rss.xsl");
}

// The longest time the window's thread went without running a 1 ms timer.
struct HoldMeter {
    QTimer timer;
    Clock::time_point last = Clock::now();
    double longestMs = 0;
    HoldMeter() {
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            longestMs = std::max(longestMs, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
        timer.start();
    }
};

int RunAccount(int argc, char** argv, const fs::path& home, const std::string& api) {
    QApplication app(argc, argv);
    fs::current_path(home);
    auto form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    ProcessEventsUntil([&] { return form->Items().Base() && form->Items().Base()->Opened(); },
                       std::chrono::seconds(30));
    accountlist::AddAccount(form->FeedList(), {kAccount, "FreshRSS", api, synctest::FreshRss::kUser});
    form->Feeds().Reload();
    std::vector<TAccountSyncEnded> results;
    form->Accounts().OnSynced = [&](const std::string&, const TAccountSyncEnded& ended) { results.push_back(ended); };

    HoldMeter hold;
    const auto start = Clock::now();
    emit form->Accounts().accountReady(kAccount, synctest::FreshRss::kPassword);
    ProcessEventsUntil([&] { return !results.empty(); }, std::chrono::seconds(600));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (results.empty() || !results[0].Ok) {
        std::printf("first sync failed: %s\n", results.empty() ? "no answer" : results[0].Error.c_str());
        return 1;
    }
    std::printf("first sync through the window: %d items, %.1f s, longest hold %.1f ms\n", results[0].NewItems, seconds,
                hold.longestMs);
    ProcessEventsUntil([] { return false; }, std::chrono::seconds(2));
    std::printf("RSS after the first sync (account): %ld KiB\n", ResidentKiB());
    for (int i = 0; i < 2; ++i) {
        const std::size_t before = results.size();
        form->Accounts().Sync(kAccount);
        ProcessEventsUntil([&] { return results.size() > before; }, std::chrono::seconds(120));
        std::printf("unchanged sync %d: %d requests, %zu bytes\n", i + 1, results.back().Requests,
                    results.back().BytesReceived);
    }
    form->close();
    form.reset();
    return 0;
}

int RunLocal(int argc, char** argv, const fs::path& home) {
    QApplication app(argc, argv);
    fs::current_path(home);
    auto form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    bool seeded = false;
    form->Items().OnSeeded = [&] { seeded = true; };
    ProcessEventsUntil([&] { return seeded; }, std::chrono::seconds(120));
    ProcessEventsUntil([] { return false; }, std::chrono::seconds(2));
    std::printf("RSS with the same feeds held locally: %ld KiB\n", ResidentKiB());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 3 && std::string(argv[1]) == "account") return RunAccount(argc, argv, argv[2], argv[3]);
    if (argc > 2 && std::string(argv[1]) == "local") return RunLocal(argc, argv, argv[2]);
    synctest::TBenchFeeds bench("quillet-account-bench", argc, argv);
    if (!bench.Skip.empty()) {
        std::printf("skipped: %s\n", bench.Skip.c_str());
        return 0;
    }
    testsupport::TempFolder& folder = bench.Folder;
    synctest::FreshRss freshrss(folder.File("server"), bench.Opml);

    const fs::path accountHome = folder.File("account-home");
    StageHome(accountHome);
    const std::string self = fs::canonical("/proc/self/exe").string();
    if (std::system((self + " account " + accountHome.string() + " " + freshrss.ApiUrl()).c_str()) != 0) return 1;

    // The same feeds as local ones: the account's folder made a plain one,
    // its stored copies and items kept.
    const fs::path localHome = folder.File("local-home");
    fs::copy(accountHome, localHome, fs::copy_options::recursive);
    fs::remove(localHome / ("sync-" + std::string(kAccount) + ".json"));
    {
        TOptions options;
        options.ConfigDocument().LoadFromFile((localHome / "config.xml").string());
        options.ConfigDocument().SetAutoSave(false);
        feedlist::TFeedList list;
        feedlist::TStoredFeedList stored(list, options.GetConfigNode(feedlist::kItemsPath),
                                         options.GetConfigNode(feedlist::kCounterPath));
        stored.Load();
        for (const feedlist::TListEntry* account : accountlist::AccountFolders(list))
            list.UpdateFolder(*account, [](feedlist::TFolderEntry& folder) { folder.Account.reset(); });
        options.ConfigDocument().Save();
    }
    return std::system((self + " local " + localHome.string()).c_str()) == 0 ? 0 : 1;
}
