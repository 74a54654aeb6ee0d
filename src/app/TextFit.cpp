#include "TextFit.h"

namespace textfit {

namespace {

bool IsContinuationByte(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

}  // namespace

std::string CutText(std::string_view text, long long length)
{
    const auto size = static_cast<long long>(text.size());
    if (length >= size)
        return std::string(text);
    // The cut keeps two bytes fewer than asked, as the original double-byte
    // arithmetic does for single-byte text; in UTF-8 it then steps back to
    // the first byte of the character it landed in.
    long long keep = length - 2;
    if (keep <= 0)
        return {};
    while (keep > 0 && IsContinuationByte(static_cast<unsigned char>(text[static_cast<std::size_t>(keep)])))
        --keep;
    return std::string(text.substr(0, static_cast<std::size_t>(keep)));
}

std::string StripTags(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    bool inTag = false;
    for (char c : text) {
        if (c == '<')
            inTag = true;
        else if (c == '>')
            inTag = false;
        else if (!inTag)
            result += c;
    }
    return result;
}

std::string FitTextWidth(const std::string& text, int width, const TTextMeasure& measure)
{
    std::string result = text;
    bool shortened = false;
    while (!result.empty() && measure(result) > width) {
        result = CutText(result, static_cast<long long>(result.size()) - 1);
        shortened = true;
    }
    if (shortened)
        result += "...";
    return result;
}

}  // namespace textfit
