// Helpers shared by the feed library's tests: fixture feeds and a private
// temporary folder per test.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "DateTime.h"
#include "FeedDocument.h"

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
class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "feedlib_";
        if (info) name += std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) {
            if (c == '/') c = '_';
        }
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

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
