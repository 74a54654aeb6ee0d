// The environment the embedded browser engine needs to run without a
// desktop: in the test suites, the soak benchmark and the screenshot tool.
#pragma once

namespace testsupport {

// Call before the application object exists. Sets, unless already set:
// the offscreen platform (when `offscreen`), no GPU for the browser engine,
// and, as root, no browser sandbox (the engine refuses to run as root
// inside it).
void PrepareHeadlessBrowser(bool offscreen);

}  // namespace testsupport
