// Value conversions in the manner of a variant: an element's text is its
// value, an empty text is Null, and converting Null or bad text to a number
// or a Boolean raises ConvertError.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace xml {
class Node;
}

namespace plat {

class ConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Plain decimal digits with an optional sign, in the range of a signed
// 32-bit integer. Anything else, the empty text included, raises
// ConvertError ("'abc' is not a valid integer value").
int StrToInt(std::string_view text);
std::optional<int> TryStrToInt(std::string_view text);

// "True"/"False" in any letter case, or an integer (0 is false). Raises
// ConvertError otherwise.
bool StrToBool(std::string_view text);
std::optional<bool> TryStrToBool(std::string_view text);
// "True" or "False".
std::string BoolToStr(bool value);

// Element values: Text() of the element; an empty text is Null and raises
// ConvertError("Could not convert variant of type (Null) into type
// (Integer)") or the same with "(Boolean)".
int VarToInt(const xml::Node& node);
bool VarToBool(const xml::Node& node);
// True when the element's text is empty.
bool VarIsNull(const xml::Node& node);

}  // namespace plat
