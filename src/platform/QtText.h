// UTF-8 text of the plain C++ homes as the user interface shows it.
#pragma once

#include <QString>

#include <string>

namespace plat {

inline QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace plat
