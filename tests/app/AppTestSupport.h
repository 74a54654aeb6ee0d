// Helpers for the application's tests: a private working directory staged
// like the program's own, and small waits for the event loop.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

class QTreeWidgetItem;
class TFormMain;

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

// Appends a feed element to the window's configuration, as a saved
// config.xml holds it, and its node to the tree.
QTreeWidgetItem* AddConfiguredFeed(TFormMain& form, const std::string& id, const std::string& url,
                                   const std::string& caption, const std::string& unread = "0");

}  // namespace apptest
