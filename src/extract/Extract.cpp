#include "Extract.h"

#include <array>
#include <vector>

#include "Metadata.h"
#include "Output.h"
#include "Page.h"
#include "Paragraphs.h"
#include "Prepare.h"
#include "Score.h"
#include "Tidy.h"
#include "Url.h"

namespace extract {

namespace {

// Strict rules that find this much text are trusted; below it the looser
// ones are tried and the longest result kept.
constexpr std::size_t kEnoughText = 500;
// Only so little text can be a wall's message instead of an article.
constexpr std::size_t kWallText = 1000;
// A few sentences in the page's own <article>: a short article, which
// looser rules would only lengthen with its comments.
constexpr std::size_t kShortArticle = 200;

TArticle NotFound(std::string reason) {
    TArticle article;
    article.Reason = std::move(reason);
    return article;
}

TArticleHtml Attempt(TBlocks& blocks, const TRules& rules, const TPageMetadata& metadata, bool& inArticle) {
    blocks.Reset();
    if (rules.stripUnlikely) SkipUnlikely(blocks);
    Measure(blocks);
    ScoreParagraphs(blocks, rules);
    xmlNode* top = PickTopCandidate(blocks);
    inArticle = top != blocks.Root() && HoldsPagesArticle(top);
    const std::vector<xmlNode*> chosen = WithSiblings(blocks, top);
    CleanResult(blocks, chosen, rules, metadata.Title);
    return WriteArticle(blocks, chosen, metadata.BaseUrl);
}

// The best of the attempts, strictest first.
TArticleHtml BestAttempt(TBlocks& blocks, const TPageMetadata& metadata) {
    constexpr std::array<TRules, 4> kAttempts = {TRules{true, true, true}, TRules{false, true, true},
                                                 TRules{false, false, true}, TRules{false, false, false}};
    TArticleHtml best;
    for (const TRules& rules : kAttempts) {
        bool inArticle = false;
        TArticleHtml result = Attempt(blocks, rules, metadata, inArticle);
        const bool strict = &rules == &kAttempts.front();
        if (strict && inArticle && result.textLength >= kShortArticle) return result;
        if (result.textLength > best.textLength) best = std::move(result);
        if (best.textLength >= kEnoughText) break;
    }
    return best;
}

// Everything a reader sees on the page, scripts and styles left out.
std::string VisibleText(xmlNode* root) {
    std::string text;
    const xmlNode* at = root;
    while (at != nullptr) {
        const bool hiddenContent = Named(at, "script") || Named(at, "style") || Named(at, "template");
        if ((at->type == XML_TEXT_NODE || at->type == XML_CDATA_SECTION_NODE) && at->content != nullptr)
            (text += reinterpret_cast<const char*>(at->content)) += ' ';
        if (IsElement(at) && !hiddenContent && at->children != nullptr) {
            at = at->children;
            continue;
        }
        while (at != root && at->next == nullptr) at = at->parent;
        at = at == root ? nullptr : at->next;
    }
    return AsciiLower(CollapseBlanks(text));
}

// Whether the structured data's article text is the article where the
// page's blocks missed it: it is far longer than what they gave, or long
// and its opening words are not among theirs.
bool PreferStructuredBody(const std::string& structured, const TArticleHtml& found) {
    const std::size_t length = VisibleLength(structured);
    if (length > 2 * found.textLength) return true;
    if (length < kEnoughText || 5 * length < 4 * found.textLength) return false;
    const std::string opening = AsciiLower(CollapseBlanks(structured)).substr(0, 40);
    return AsciiLower(found.text).find(opening) == std::string::npos;
}

bool SaysAny(const std::string& text, std::initializer_list<std::string_view> phrases) {
    for (const std::string_view phrase : phrases)
        if (text.find(phrase) != std::string::npos) return true;
    return false;
}

// Why a page with so little text is a wall in front of the article, or
// nullopt. The page is read again as a whole: walls sit in dialogs and
// forms that cleaning removed.
std::optional<std::string> WallReason(std::string_view page, std::string_view contentType, const std::string& found,
                                      bool passwordField) {
    const TDocument document = ParsePage(page, contentType);
    const std::string text =
        AsciiLower(found) + " " + (document ? VisibleText(xmlDocGetRootElement(document.get())) : "");
    if (passwordField ||
        SaysAny(text, {"sign in to continue", "log in to continue", "login to continue", "sign in to read",
                       "log in to read", "please sign in", "please log in", "you must be logged in",
                       "create an account to continue", "create a free account to continue"}))
        return "The page asks to sign in before it shows the article.";
    if (SaysAny(text, {"subscribe to continue", "subscribe to read", "subscribe now to read", "to continue reading",
                       "subscribers only", "for subscribers", "exclusive to subscribers", "become a subscriber",
                       "start your subscription", "already a subscriber"}))
        return "The page shows only the start of the article; the rest is for subscribers.";
    // Most pages carry a cookie banner or a "cookie settings" link beside a
    // short article; only a notice that is all the blocks gave is a wall.
    if (SaysAny(AsciiLower(found), {"accept cookies", "accept all cookies", "we use cookies",
                                    "consent to the use of cookies", "cookie settings"}))
        return "The page shows a cookie notice instead of the article.";
    return std::nullopt;
}

}  // namespace

TArticle ExtractArticle(std::string_view page, std::string_view address, std::string_view contentType) {
    if (!IsWebAddress(address)) return NotFound("Only web pages (http and https addresses) are read.");
    if (page.size() > kMaxPageSize) return NotFound("The page is larger than 32 MB.");
    const TDocument document = ParsePage(page, contentType);
    xmlNode* root = document ? xmlDocGetRootElement(document.get()) : nullptr;
    if (root == nullptr) return NotFound("The page is empty.");
    const TPageMetadata metadata = ReadMetadata(document.get(), std::string(address));
    xmlNode* body = FindFirst(root, "body");
    if (body == nullptr) body = root;
    const TCleanedFacts cleaned = CleanDocument(body);
    WrapBareText(body);

    TBlocks blocks(body);
    TArticleHtml best = BestAttempt(blocks, metadata);
    // Pages that build their article with scripts may carry its text only
    // in their structured data; the page itself then holds little more than
    // its footer's links (to cookie settings, to sign in).
    if (PreferStructuredBody(metadata.ArticleBody, best)) best = WriteText(metadata.ArticleBody);
    if (best.textLength < kWallText)
        if (auto wall = WallReason(page, contentType, best.text, cleaned.passwordField)) return NotFound(*wall);
    if (best.textLength == 0) return NotFound("No article text was found on the page.");

    TArticle article;
    article.Found = true;
    article.Html = std::move(best.html);
    article.TextLength = best.textLength;
    article.Title = metadata.Title;
    article.Byline = metadata.Byline;
    article.Date = metadata.Date;
    return article;
}

std::size_t VisibleTextLength(std::string_view html) {
    const TDocument document = ParsePage(html, "utf-8");
    xmlNode* root = document ? xmlDocGetRootElement(document.get()) : nullptr;
    return root == nullptr ? 0 : VisibleLength(VisibleText(root));
}

std::optional<std::string> ReasonToKeepFeedBody(const TArticle& article, std::string_view feedBody) {
    if (!article.Found) return article.Reason;
    if (article.TextLength < VisibleTextLength(feedBody))
        return "The page has less of the article's text than the feed itself.";
    return std::nullopt;
}

}  // namespace extract
