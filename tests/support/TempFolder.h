// A fresh temporary folder per test, removed with everything in it when the
// test is done.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "quillet-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Path() const { return FPath.string(); }
    std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

// A port on 127.0.0.1 on which nothing listens (it was free a moment ago).
int UnusedLoopbackPort();

}  // namespace testsupport
