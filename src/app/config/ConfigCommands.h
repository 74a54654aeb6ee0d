// What the command line does to the configuration when no instance of the
// program runs in the home: the feed list's OPML import and export, straight
// on config.xml and without a window.
#pragma once

#include <string>

namespace feedlist {
class TFeedList;
}

namespace configcmd {

// Adds the feeds of an OPML file to config.xml (in their folders) and saves
// it. Returns the line to print ("3 feeds imported, 1 skipped"); raises
// std::runtime_error with the reason when a file cannot be read or written.
std::string ImportOpml(const std::string& configFile, const std::string& opmlFile);

// The line an import ends with on the command line: "3 feeds imported,
// 1 skipped", saying also how many of the skipped were no web address and
// how many feeds went into a shallower folder than the file's.
std::string DescribeImport(int added, int skipped, int refused, int flattened);

// Writes the feed list of config.xml as an OPML file. Returns the line to
// print; raises as above.
std::string ExportOpml(const std::string& configFile, const std::string& opmlFile);

// The feed list of config.xml, read only; raises as above.
void ReadFeedList(const std::string& configFile, feedlist::TFeedList& list);

}  // namespace configcmd
