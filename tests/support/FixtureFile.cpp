#include "FixtureFile.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

std::string ReadFixtureFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read fixture " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace testsupport
