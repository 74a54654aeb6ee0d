// Test fixtures read byte for byte.
#pragma once

#include <string>

namespace testsupport {

// The whole content of the file at path; throws std::runtime_error when it
// cannot be read, so a missing fixture fails loudly instead of testing "".
std::string ReadFixtureFile(const std::string& path);

}  // namespace testsupport
