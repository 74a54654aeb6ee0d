// Helpers for the application's tests: a private working directory staged
// like the program's own, and small waits for the event loop. The update
// controller's interface comes with them: most window tests stop polling
// (form.Updates().Stop()) and drive the updates themselves.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QPoint>
#include <QString>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>

#include "Announcer.h"
#include "FeedListController.h"
#include "FeedTree.h"
#include "ReadingPane.h"
#include "TrayIcon.h"
#include "TrayNotifyArea.h"
#include "UpdateController.h"

class QTreeWidgetItem;
class TOptions;
namespace feedlist {
class TStoredFeedList;
}
class TFormMain;
class TNotifyController;
class TFeedPageController;
class TTrayController;
class TConfigSaver;
class TFeedPropertiesController;

namespace apptest {

// Creates a temporary folder holding what the program expects beside it
// (languages/, config.xml and config.default.xml from the delivered data,
// rss.xsl, an empty feeds/), makes it the working directory, and on
// destruction returns to the previous directory and removes the folder.
class TStagedHome {
public:
    TStagedHome();
    ~TStagedHome();
    TStagedHome(const TStagedHome&) = delete;
    TStagedHome& operator=(const TStagedHome&) = delete;

    const std::filesystem::path& Dir() const { return FDir; }
    std::string ReadFile(const std::string& relative) const;
    void WriteFile(const std::string& relative, const std::string& content) const;

private:
    std::filesystem::path FDir;
    std::filesystem::path FPrevious;
};

// The delivered data folder of the sources.
std::filesystem::path DataDir();

// Processes events until `done` holds or `ms` milliseconds have passed;
// returns `done` as it is then.
bool WaitUntil(const std::function<bool()>& done, int ms = 10000);

// The processor time of the calling thread: how long the window's thread
// worked, which other work on a shared machine does not stretch.
std::chrono::nanoseconds ThreadTime();

// Shows the window and `node`'s page in the reading pane (its helper
// started), and waits until the pane has reported the page shown and its
// items were counted read; false when that did not happen within `ms`.
bool ShowFeedOnScreen(TFormMain& form, QTreeWidgetItem* node, int ms = 30000);

// Moves the selected node as the context menu's Move To does, into the
// folder of that caption; false when the menu does not offer it.
bool MoveSelectedTo(TFormMain& form, const QString& folderCaption);

// Appends a feed element to the window's configuration, as a saved
// config.xml holds it, and its node to the tree.
QTreeWidgetItem* AddConfiguredFeed(TFormMain& form, const std::string& id, const std::string& url,
                                   const std::string& caption, const std::string& unread = "0");

// The id of a feed node's element; "" for anything else.
std::string FeedId(const QTreeWidgetItem* node);
// Adds a feed to the window's list (under `folder`, the root when null) as
// config.xml would have held it with these attributes.
QTreeWidgetItem* AddStoredFeed(TFormMain& form, const std::vector<std::pair<std::string, std::string>>& attributes,
                               QTreeWidgetItem* folder = nullptr);
// The feed's <item> element in config.xml as the window keeps it; null when
// there is none.
xml::Node StoredFeedElement(TFormMain& form, const std::string& id);
xml::Node StoredFeedElement(TOptions& options, const std::string& id);
// Changes the feed of a row through the list, as the program does.
void ChangeFeed(TFormMain& form, QTreeWidgetItem* node, const std::function<void(feedlist::TFeedEntry&)>& change);
// A config.xml's feed list as the program reads it, for a test that looks
// into a saved file or prepares one for a start.
class TSavedFeedList {
public:
    explicit TSavedFeedList(const std::string& configFile);
    ~TSavedFeedList();
    feedlist::TFeedList& List() { return FList; }
    // Writes the file back with the list's changes.
    void Save();

private:
    std::unique_ptr<TOptions> FOptions;
    feedlist::TFeedList FList;
    std::unique_ptr<feedlist::TStoredFeedList> FStored;
};

// A feed's record for a list built by a test.
feedlist::TFeedEntry FeedEntry(int id, const std::string& url = {}, const std::string& caption = {});
// The feed with this id as the window's list holds it; throws when it is not listed.
const feedlist::TFeedEntry& Feed(TFormMain& form, const std::string& id);

// The window's notifications: its announcer, its last balloon and the
// "Notify About New Items" action.
TNotifyController& Notify(TFormMain& form);
// The window's feed page (what the reading pane shows, where its links go)
// and its tray (showing and hiding the window).
TFeedPageController& Page(TFormMain& form);
TTrayController& Tray(TFormMain& form);
// The saver that keeps config.xml on disk while the window runs.
TConfigSaver& ConfigSaver(TFormMain& form);
// The Feed Properties dialog's controller.
TFeedPropertiesController& FeedProperties(TFormMain& form);
// The id of a feed node ("" for any other node).
std::string FeedId(TFormMain& form, QTreeWidgetItem* node);
// An account's folder row, and the server's label of a folder row ("" for
// the account's own).
QTreeWidgetItem* AccountRow(TFormMain& form, const std::string& accountId);
std::string AccountLabel(const QTreeWidgetItem* folder);
// Selects `node` and shows its page, as a click on it does.
void ShowFeed(TFormMain& form, QTreeWidgetItem* node);

// A notification area that is always there and remembers the balloons put
// up.
class TRecordingArea : public TTrayNotifyArea {
public:
    struct Balloon {
        QString Title, Text;
        unsigned TimeoutMs;
    };
    std::shared_ptr<std::vector<Balloon>> Balloons = std::make_shared<std::vector<Balloon>>();

    bool Available() const override { return true; }
    bool Add(const TNotifyIconData& data) override { return Record(data); }
    bool Modify(const TNotifyIconData& data) override { return Record(data); }
    bool Delete(const TNotifyIconData&) override { return true; }
    std::optional<QPoint> CursorPos() const override { return std::nullopt; }
    TShiftState KeyShiftState() const override { return 0; }
    int DoubleClickTime() const override { return 10; }

private:
    bool Record(const TNotifyIconData& data) {
        if ((data.Flags & NIF_INFO) && !data.BalloonText.isEmpty())
            Balloons->push_back({data.BalloonTitle, data.BalloonText, data.BalloonTimeoutMs});
        return true;
    }
};

// A clock that moves only when told: Advance moves both clocks, as time
// passing while the machine is awake; Sleep moves the wall clock alone, as a
// suspend does.
class TFakeAnnounceClock : public TAnnounceClock {
public:
    std::chrono::steady_clock::time_point Monotonic() const override { return FMonotonic; }
    std::chrono::system_clock::time_point Wall() const override { return FWall; }
    void Advance(std::chrono::milliseconds by) {
        FMonotonic += by;
        FWall += by;
    }
    void Sleep(std::chrono::milliseconds by) { FWall += by; }

private:
    std::chrono::steady_clock::time_point FMonotonic{std::chrono::hours(1000)};
    std::chrono::system_clock::time_point FWall{std::chrono::hours(500000)};
};

}  // namespace apptest
