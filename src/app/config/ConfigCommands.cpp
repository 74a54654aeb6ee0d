#include "ConfigCommands.h"

#include <stdexcept>

#include "DateTime.h"
#include "FeedList.h"
#include "FeedListXml.h"
#include "Options.h"
#include "XmlDom.h"

namespace configcmd {

namespace {

// config.xml as the window loads it; never written back unless asked.
class TConfig {
public:
    explicit TConfig(const std::string& file) {
        try {
            FOptions.ConfigDocument().LoadFromFile(file);
        } catch (const std::exception& error) {
            FOptions.ConfigDocument().SetModified(false);
            FOptions.ConfigDocument().SetAutoSave(false);
            throw std::runtime_error("the settings file \"" + file + "\" cannot be read: " + error.what());
        }
        FOptions.ConfigDocument().SetAutoSave(false);
    }
    xml::Node Node(const char* path) { return FOptions.GetConfigNode(path); }
    void Save() { FOptions.ConfigDocument().Save(); }

private:
    TOptions FOptions;
};

}  // namespace

std::string ImportOpml(const std::string& configFile, const std::string& opmlFile) {
    std::vector<opml::Outline> outlines;
    try {
        outlines = opml::ReadFile(opmlFile);
    } catch (const std::exception& error) {
        throw std::runtime_error("\"" + opmlFile + "\" is not a valid OPML subscription list: " + error.what());
    }
    TConfig config(configFile);
    feedlist::TFeedList list;
    feedlist::TStoredFeedList stored(list, config.Node(feedlist::kItemsPath), config.Node(feedlist::kCounterPath));
    stored.Load();
    const feedlist::TImport result = feedlist::Import(list, outlines, plat::FormatISO8601(plat::Now()));
    config.Save();
    return DescribeImport(static_cast<int>(result.Added.size()), result.Skipped, result.Refused, result.Flattened);
}

std::string DescribeImport(int added, int skipped, int refused, int flattened) {
    std::string text = std::to_string(added) + " feeds imported, " + std::to_string(skipped) + " skipped";
    if (refused > 0) text += " (" + std::to_string(refused) + " not a web address Quillet subscribes to)";
    if (flattened > 0)
        text += "; " + std::to_string(flattened) + " feeds stood in folders nested deeper than " +
                std::to_string(feedlist::kMaxFolderDepth) + " levels and went into the deepest folder allowed";
    return text;
}

void ReadFeedList(const std::string& configFile, feedlist::TFeedList& list) {
    TConfig config(configFile);
    feedlist::TStoredFeedList(list, config.Node(feedlist::kItemsPath), config.Node(feedlist::kCounterPath)).Load();
}

std::string ExportOpml(const std::string& configFile, const std::string& opmlFile) {
    feedlist::TFeedList list;
    ReadFeedList(configFile, list);
    const std::vector<opml::Outline> outlines = feedlist::Outlines(list, nullptr);
    opml::WriteFile(opmlFile, outlines, "Quillet feeds");
    return std::to_string(outlines.size()) + " feeds exported to " + opmlFile;
}

}  // namespace configcmd
