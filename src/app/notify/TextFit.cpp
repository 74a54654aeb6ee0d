#include "TextFit.h"

#include <algorithm>
#include <vector>

namespace textfit {

namespace {

bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// How many bytes CutText keeps.
std::size_t CutLength(std::string_view text, long long length) {
    const auto size = static_cast<long long>(text.size());
    if (length >= size) return text.size();
    // The cut keeps two bytes fewer than asked, as the original double-byte
    // arithmetic does for single-byte text; in UTF-8 it then steps back to
    // the first byte of the character it landed in.
    long long keep = length - 2;
    if (keep <= 0) return 0;
    while (keep > 0 && IsContinuationByte(static_cast<unsigned char>(text[static_cast<std::size_t>(keep)]))) --keep;
    return static_cast<std::size_t>(keep);
}

}  // namespace

std::string CutText(std::string_view text, long long length) {
    return std::string(text.substr(0, CutLength(text, length)));
}

std::size_t CharCount(std::string_view text) {
    std::size_t chars = 0;
    for (char c : text) chars += IsContinuationByte(static_cast<unsigned char>(c)) ? 0 : 1;
    return chars;
}

std::string FitTextWidth(const std::string& text, int width, const TTextMeasure& measure) {
    // The lengths the plain loop would try, longest first: every step is
    // CutText(t, length of t - 1), ending with the empty text.
    std::vector<std::size_t> lengths{text.size()};
    while (lengths.back() > 0)
        lengths.push_back(
            CutLength(std::string_view(text).substr(0, lengths.back()), static_cast<long long>(lengths.back()) - 1));
    const auto fits = [&](std::size_t step) {
        return lengths[step] == 0 || measure(text.substr(0, lengths[step])) <= width;
    };

    // The loop stops at the first step that fits. Steps fit from some point
    // on; that point is looked for from the short end, in growing strides,
    // so only beginnings about twice as long as the result are measured.
    const std::size_t last = lengths.size() - 1;
    std::size_t fitting = last;  // fits
    std::size_t tooWide = last;  // unknown until a step does not fit
    bool found = false;
    for (std::size_t stride = 1; !found; stride *= 2) {
        const std::size_t step = stride > fitting ? 0 : fitting - stride;
        if (!fits(step)) {
            tooWide = step;
            found = true;
        } else {
            fitting = step;
            if (step == 0) return text;  // the whole text fits
        }
    }
    while (fitting - tooWide > 1) {
        const std::size_t middle = tooWide + (fitting - tooWide) / 2;
        if (fits(middle))
            fitting = middle;
        else
            tooWide = middle;
    }
    return text.substr(0, lengths[fitting]) + "...";
}

std::string FittedTitleLines(const std::function<std::string(int)>& title, int count, int width,
                             const TTextMeasure& measure, std::size_t maxChars) {
    std::string text;
    std::size_t chars = 0;
    for (int i = 0; i < count && chars < maxChars; ++i) {
        const std::string line = FitTextWidth(title(i), width, measure) + "\n";
        chars += CharCount(line);
        text += line;
    }
    return text;
}

std::string CutAtWord(std::string_view text, std::size_t maxChars) {
    if (CharCount(text) <= maxChars) return std::string(text);
    if (maxChars == 0) return {};
    // The bytes of the first maxChars - 1 characters: room for the ellipsis.
    std::size_t end = 0;
    for (std::size_t chars = 0; end < text.size(); ++end) {
        if (!IsContinuationByte(static_cast<unsigned char>(text[end])) && chars++ == maxChars - 1) break;
    }
    std::string_view kept = text.substr(0, end);
    // Back to the end of the last whole word, unless one word fills it all.
    const bool cutInWord = end < text.size() && text[end] != ' ' && text[end] != '\n';
    if (cutInWord) {
        const std::size_t blank = kept.find_last_of(" \n");
        if (blank != std::string_view::npos && blank > 0) kept = kept.substr(0, blank);
    }
    while (!kept.empty() && (kept.back() == ' ' || kept.back() == '\n')) kept.remove_suffix(1);
    return std::string(kept) + "\u2026";
}

}  // namespace textfit
