// Helpers shared by the feed library's tests: fixture feeds, a private
// temporary folder per test, and load errors.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "DateTime.h"
#include "FeedDocument.h"
#include "TempFolder.h"

namespace feedtest {

inline std::string FixturePath(const std::string& name) { return std::string(FEEDLIB_TEST_DATA) + "/" + name; }

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline std::string Fixture(const std::string& name) { return ReadFile(FixturePath(name)); }

// A folder of its own for each test, removed afterwards.
using TempDir = testsupport::TempFolder;

// The message of the error a load raises; "" when the text loads.
inline std::string LoadError(feed::TFeedDocument& doc, const std::string& text) {
    try {
        doc.LoadFromString(text);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

inline std::string LoadError(const std::string& text) {
    feed::TFeedDocument doc;
    return LoadError(doc, text);
}

inline plat::TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return plat::EncodeDateTime(y, mo, d, h, mi, s);
}

// Within a minute of now: for values stamped with the current time.
inline bool IsRecent(plat::TDateTime value) {
    const double oneMinute = 1.0 / 24 / 60;
    const double now = plat::Now();
    return value > now - oneMinute && value <= now + oneMinute;
}

}  // namespace feedtest
