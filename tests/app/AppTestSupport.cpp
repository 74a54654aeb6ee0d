#include "AppTestSupport.h"

#include "FeedListXml.h"

#include "AccountController.h"
#include "ConfigSaver.h"
#include "FeedPageController.h"
#include "FeedPropertiesController.h"
#include "NotifyController.h"
#include "TrayController.h"
#include "fMain.h"
#include "ReadStateController.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <time.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace apptest {

fs::path DataDir() { return fs::path(QUILLET_DATA_DIR); }

std::chrono::nanoseconds ThreadTime() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

TStagedHome::TStagedHome() : FPrevious(fs::current_path()) {
    static std::atomic<int> counter{0};
    FDir = fs::temp_directory_path() / ("quillet-app-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(FDir);
    fs::create_directories(FDir / "feeds");
    fs::copy(DataDir() / "languages", FDir / "languages", fs::copy_options::recursive);
    fs::copy_file(DataDir() / "config.xml", FDir / "config.xml");
    fs::copy_file(DataDir() / "config.xml", FDir / "config.default.xml");
    if (fs::exists(DataDir() / "rss.xsl")) fs::copy_file(DataDir() / "rss.xsl", FDir / "rss.xsl");
    fs::current_path(FDir);
}

TStagedHome::~TStagedHome() {
    std::error_code ignored;
    fs::current_path(FPrevious, ignored);
    fs::remove_all(FDir, ignored);
}

std::string TStagedHome::ReadFile(const std::string& relative) const {
    std::ifstream in(FDir / relative, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + (FDir / relative).string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void TStagedHome::WriteFile(const std::string& relative, const std::string& content) const {
    fs::create_directories((FDir / relative).parent_path());
    std::ofstream out(FDir / relative, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + (FDir / relative).string());
}

bool ShowFeedOnScreen(TFormMain& form, QTreeWidgetItem* node, int ms) {
    form.show();
    if (!WaitUntil([&] { return form.isVisible(); }, ms)) return false;
    if (form.Tree().currentItem() == node)
        ShowFeed(form, node);
    else
        form.Tree().setCurrentItem(node);
    const std::string id = TFeedTree::FeedIdOf(node);
    return WaitUntil(
        [&] {
            return form.Items().ShownPage().FeedId == id && form.Items().ShownPage().Marked &&
                   !form.Items().MarksWaiting();
        },
        ms);
}

bool MoveSelectedTo(TFormMain& form, const QString& folderCaption) {
    form.Feeds().FillMoveToMenu(*form.MenuMoveTo);
    for (QAction* action : form.MenuMoveTo->actions()) {
        if (action->text().trimmed() != folderCaption) continue;
        action->trigger();
        WaitUntil([] { return false; }, 500);
        return true;
    }
    return false;
}

TNotifyController& Notify(TFormMain& form) { return *form.findChild<TNotifyController*>(); }

TFeedPageController& Page(TFormMain& form) { return *form.findChild<TFeedPageController*>(); }

TTrayController& Tray(TFormMain& form) { return *form.findChild<TTrayController*>(); }

TConfigSaver& ConfigSaver(TFormMain& form) { return *form.findChild<TConfigSaver*>(); }

TFeedPropertiesController& FeedProperties(TFormMain& form) { return *form.findChild<TFeedPropertiesController*>(); }

std::string FeedId(TFormMain& /*form*/, QTreeWidgetItem* node) { return TFeedTree::FeedIdOf(node); }

QTreeWidgetItem* AccountRow(TFormMain& form, const std::string& accountId) {
    return form.Tree().RowOf(form.Accounts().AccountFolder(accountId));
}

std::string AccountLabel(const QTreeWidgetItem* folder) {
    return TAccountController::AccountLabelOf(TFeedTree::EntryOf(folder));
}

void ShowFeed(TFormMain& form, QTreeWidgetItem* node) { Page(form).Show(FeedId(form, node)); }

QTreeWidgetItem* AddConfiguredFeed(TFormMain& form, const std::string& id, const std::string& url,
                                   const std::string& caption, const std::string& unread) {
    return AddStoredFeed(form, {{"url", url}, {"id", id}, {"caption", caption}, {"unread", unread}});
}

QTreeWidgetItem* AddStoredFeed(TFormMain& form, const std::vector<std::pair<std::string, std::string>>& attributes,
                               QTreeWidgetItem* folder) {
    // Read as the list reads a stored <item>, so the feed is what an earlier
    // run would have left.
    xml::Document scratch;
    xml::Node element = scratch.CreateDocumentElement("item");
    for (const auto& [name, value] : attributes) element.SetAttribute(name, value);
    feedlist::TFeedEntry feed = feedlist::ReadFeedEntry(element);
    feedlist::TFeedList& list = form.FeedList();
    if (list.FindFeed(feed.Id)) feed.Id = 0;  // taken: the list numbers it, as a load would
    const feedlist::TListEntry* parent = folder ? TFeedTree::EntryOf(folder) : &list.Root();
    return form.Tree().RowOf(list.AddFeed(*parent, std::move(feed)));
}

TSavedFeedList::TSavedFeedList(const std::string& configFile) : FOptions(std::make_unique<TOptions>()) {
    FOptions->ConfigDocument().LoadFromFile(configFile);
    FOptions->ConfigDocument().SetAutoSave(false);
    FStored =
        std::make_unique<feedlist::TStoredFeedList>(FList, FOptions->GetConfigNode("internal\\feedlist\\items"),
                                                    FOptions->GetConfigNode("internal\\feedlist\\autoincrement\\id"));
    FStored->Load();
}

TSavedFeedList::~TSavedFeedList() = default;

void TSavedFeedList::Save() { FOptions->ConfigDocument().Save(); }

feedlist::TFeedEntry FeedEntry(int id, const std::string& url, const std::string& caption) {
    feedlist::TFeedEntry feed;
    feed.Id = id;
    feed.Url = url;
    feed.Caption = caption;
    return feed;
}

xml::Node StoredFeedElement(TFormMain& form, const std::string& id) { return StoredFeedElement(form.Options(), id); }

xml::Node StoredFeedElement(TOptions& options, const std::string& id) {
    std::vector<xml::Node> pending{options.GetConfigNode("internal\\feedlist\\items")};
    while (!pending.empty()) {
        const xml::Node container = pending.back();
        pending.pop_back();
        for (const xml::Node& child : container.ChildElements()) {
            if (child.Name() == "item" && child.Attribute("id") == id) return child;
            if (child.Name() == "folder") pending.push_back(child);
        }
    }
    return {};
}

void ChangeFeed(TFormMain& form, QTreeWidgetItem* node, const std::function<void(feedlist::TFeedEntry&)>& change) {
    const feedlist::TListEntry* entry = TFeedTree::EntryOf(node);
    if (!entry || !entry->IsFeed()) throw std::runtime_error("not a feed's row");
    form.FeedList().UpdateFeed(*entry, change);
}

const feedlist::TFeedEntry& Feed(TFormMain& form, const std::string& id) {
    const feedlist::TListEntry* entry = form.FeedList().FindFeed(id);
    if (!entry) throw std::runtime_error("no feed " + id + " in the list");
    return entry->Feed();
}

std::string FeedId(const QTreeWidgetItem* node) { return TFeedTree::FeedIdOf(const_cast<QTreeWidgetItem*>(node)); }

}  // namespace apptest
