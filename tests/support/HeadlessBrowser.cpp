#include "HeadlessBrowser.h"

#include <cstdlib>

#include <unistd.h>

namespace testsupport {
namespace {

// Sets a variable the environment leaves unset or empty.
void SetIfEmpty(const char* name, const char* value) {
    const char* current = std::getenv(name);
    if (!current || !*current) ::setenv(name, value, 1);
}

}  // namespace

void PrepareHeadlessBrowser(bool offscreen) {
    if (offscreen) SetIfEmpty("QT_QPA_PLATFORM", "offscreen");
    if (::geteuid() == 0) SetIfEmpty("QTWEBENGINE_DISABLE_SANDBOX", "1");
    SetIfEmpty("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
}

}  // namespace testsupport
