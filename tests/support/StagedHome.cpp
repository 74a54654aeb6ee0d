#include "StagedHome.h"

#include <fstream>

namespace fs = std::filesystem;

namespace testsupport {

void StageWorkingDirectory(const fs::path& stage, const fs::path& dir, const std::string& configXml) {
    fs::remove_all(dir);
    fs::create_directories(dir / "feeds");
    // Whatever the umask: a home others may write to would be passed over.
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    fs::copy(stage / "languages", dir / "languages", fs::copy_options::recursive);
    for (const char* file : {"rss.xsl", "config.default.xml"})
        if (fs::exists(stage / file)) fs::copy_file(stage / file, dir / file);
    if (fs::exists(stage / "help")) fs::copy(stage / "help", dir / "help", fs::copy_options::recursive);
    std::ofstream(dir / "config.xml") << configXml;
}

}  // namespace testsupport
