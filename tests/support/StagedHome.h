// A scratch working directory for the real program: the staged files of a
// build (languages/, rss.xsl, help/, config.default.xml), an empty feeds/
// and the given config.xml. Used by the end-to-end test, the soak benchmark
// and the screenshot tool.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// Replaces `dir` with a fresh working directory made from `stage`.
void StageWorkingDirectory(const std::filesystem::path& stage, const std::filesystem::path& dir,
                           const std::string& configXml);

}  // namespace testsupport
