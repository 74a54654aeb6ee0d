#include "Outcome.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "Text.h"

namespace schedule {

namespace {

// The part of a body worth looking at: a challenge page names its service
// in its head, well before this.
constexpr std::size_t kLookedAt = 4096;

std::string Lower(std::string_view text) { return plat::AsciiLower(text.substr(0, kLookedAt)); }

bool Contains(const std::string& haystack, std::string_view needle) {
    return haystack.find(needle) != std::string::npos;
}

}  // namespace

bool IsBotProtectionPage(int status, std::string_view bodyHead) {
    if (status != 403 && status != 503 && status != 429 && status != 401) return false;
    const std::string page = Lower(bodyHead);
    static constexpr std::array kMarkers = {
        "cf-chl",  // Cloudflare's challenge scripts and forms
        "challenge-platform",
        "just a moment...",  // Cloudflare's interstitial title
        "just a moment\xE2\x80\xA6",
        "attention required! | cloudflare",
        "ddos-guard",
        "sucuri website firewall",
        "captcha",  // reCAPTCHA, hCaptcha, Turnstile's fallbacks
        "verify you are human",
        "are you a robot",
    };
    for (const char* marker : kMarkers)
        if (Contains(page, marker)) return true;
    // Akamai's refusal: "Access Denied" and a reference number.
    return Contains(page, "access denied") && (Contains(page, "reference&#32;&#35;") || Contains(page, "reference #"));
}

bool IsHtmlPage(std::string_view contentType, std::string_view bodyHead) {
    const std::string type = Lower(contentType);
    if (type.rfind("text/html", 0) == 0 || type.rfind("application/xhtml", 0) == 0) return true;
    const std::string head = Lower(plat::SkipByteOrderMarkAndBlanks(bodyHead));
    return head.rfind("<!doctype html", 0) == 0 || head.rfind("<html", 0) == 0;
}

bool IsHomePage(const std::string& url) {
    std::size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    const std::size_t path = url.find_first_of("/?#", start);
    if (path == std::string::npos) return true;
    const std::string_view rest = std::string_view(url).substr(path);
    return rest == "/" || rest.empty() || rest.rfind("/?", 0) == 0 || rest.rfind("/#", 0) == 0 ||
           rest == "/index.html" || rest == "/index.php";
}

std::string PermanentTarget(const std::string& url, const std::vector<http::TRedirect>& redirects) {
    std::string target;
    for (const http::TRedirect& hop : redirects) {
        if (!hop.Permanent()) break;
        target = hop.Location;
    }
    if (target.empty() || target == url) return {};
    // A site's home page is where publishers send readers of a feed they
    // retired; it is not the feed's new address.
    if (IsHomePage(target) && !IsHomePage(url)) return {};
    return target;
}

TFetchFacts FactsFromResult(const std::string& url, bool followRedirects, const http::TFetchResult& result) {
    TFetchFacts facts;
    facts.Url = url;
    facts.FollowRedirects = followRedirects;
    facts.Status = result.StatusCode;
    facts.ServerStatus = "HTTP " + std::to_string(result.StatusCode);
    facts.Redirects = result.Redirects;
    facts.ContentType = result.ContentType;
    facts.BodyHead = result.Body.substr(0, kLookedAt);
    facts.NotModified = result.NotModified;
    return facts;
}

TFetchFacts FactsFromError(const std::string& url, bool followRedirects, const http::HttpError& error) {
    TFetchFacts facts;
    facts.Url = url;
    facts.FollowRedirects = followRedirects;
    facts.Status = error.StatusCode();
    facts.ServerStatus = error.what();
    facts.Cause = error.Cause();
    facts.TooLarge = error.Failure() == http::HttpFailure::TooLarge;
    if (error.Failure() == http::HttpFailure::TimedOut) facts.Cause = http::NetworkCause::TimedOut;
    facts.Redirects = error.Redirects();
    facts.BodyHead = error.Body().substr(0, kLookedAt);
    facts.RetryAfter = error.RetryAfter();
    return facts;
}

TFetchOutcome Classify(const TFetchFacts& facts, TTimePoint at) {
    TFetchOutcome outcome;
    outcome.At = at;
    outcome.Status = facts.Status;
    outcome.ServerStatus = facts.ServerStatus;
    outcome.RetryAfter = facts.RetryAfter;
    // A permanent redirect that ended at a feed is a move in the making,
    // whether it was followed (the update succeeded) or not (it failed).
    outcome.MovedTo = PermanentTarget(facts.Url, facts.Redirects);
    const auto kind = [&](TOutcomeKind k) {
        outcome.Kind = k;
        return outcome;
    };
    if (facts.NotModified) return kind(TOutcomeKind::NotModified);
    if (facts.IsFeed) {
        outcome.HadNewItem = facts.HadNewItem;
        return kind(TOutcomeKind::Updated);
    }
    // Whatever else came at the end of the chain is not the feed: the
    // address it reached is no move.
    const bool unfollowedMove = facts.Status >= 300 && facts.Status < 400 && !facts.Redirects.empty() &&
                                facts.Redirects.back().Permanent() && !outcome.MovedTo.empty();
    if (!unfollowedMove) outcome.MovedTo.clear();
    if (unfollowedMove) return kind(TOutcomeKind::Moved);
    if (facts.Status == 0) {
        if (facts.TooLarge) return kind(TOutcomeKind::OtherFailure);
        switch (facts.Cause) {
            case http::NetworkCause::HostNotFound:
                return kind(TOutcomeKind::HostNotFound);
            case http::NetworkCause::Unreachable:
                return kind(TOutcomeKind::Unreachable);
            case http::NetworkCause::TimedOut:
                return kind(TOutcomeKind::TimedOut);
            case http::NetworkCause::Certificate:
            case http::NetworkCause::Tls:
                return kind(TOutcomeKind::TlsInvalid);
            case http::NetworkCause::None:
            case http::NetworkCause::Other:
                return kind(TOutcomeKind::OtherFailure);
        }
    }
    if (IsBotProtectionPage(facts.Status, facts.BodyHead)) return kind(TOutcomeKind::BotProtection);
    switch (facts.Status) {
        case 410:
            return kind(TOutcomeKind::Gone);
        case 404:
            return kind(TOutcomeKind::NotFound);
        case 401:
        case 403:
            return kind(TOutcomeKind::Refused);
        case 429:
            return kind(TOutcomeKind::RateLimited);
        case 503:
            if (facts.RetryAfter) return kind(TOutcomeKind::RateLimited);
            return kind(TOutcomeKind::ServerError);
        default:
            break;
    }
    if (facts.Status >= 500) return kind(TOutcomeKind::ServerError);
    if (facts.Status >= 200 && facts.Status < 300 && IsHtmlPage(facts.ContentType, facts.BodyHead))
        return kind(TOutcomeKind::NotAFeed);
    return kind(TOutcomeKind::OtherFailure);
}

}  // namespace schedule
