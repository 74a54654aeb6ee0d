#include "Address.h"
#include "FeedUtils.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using discover::NormalizeAddress;

TEST(NormalizeAddress, TurnsWhatPeoplePasteIntoAnAddressToFetch) {
    const struct {
        const char* input;
        std::optional<std::string> address;
    } cases[] = {
        {"https://example.org/feed/", "https://example.org/feed/"},
        {"HTTP://Example.org/Path?q=1#x", "http://Example.org/Path?q=1#x"},
        {"  \t https://example.org/ \n", "https://example.org/"},
        {"\xC2\xA0https://example.org/\xC2\xA0", "https://example.org/"},
        {"feed:https://example.org/rss", "https://example.org/rss"},
        {"FEED:http://example.org/rss", "http://example.org/rss"},
        {"feed://example.org/rss.xml", "http://example.org/rss.xml"},
        {"example.org", "https://example.org"},
        {"example.org/blog/", "https://example.org/blog/"},
        {"www.example.org:8080/x", "https://www.example.org:8080/x"},
        {"localhost:8080", "https://localhost:8080"},
        {"127.0.0.1/feed", "https://127.0.0.1/feed"},
        {"//example.org/x", "https://example.org/x"},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"example", std::nullopt},
        {"ftp://example.org/feed", std::nullopt},
        {"javascript:alert(1)", std::nullopt},
        {"mailto:me@example.org", std::nullopt},
        {"feed:ftp://example.org/", std::nullopt},
        {"https://", std::nullopt},
        {"https://exa mple.org/", std::nullopt},
        {"two words", std::nullopt},
        {"-bad.example", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(NormalizeAddress(c.input), c.address);
    }
}

TEST(HostOfAndComparableUrl, ReadTheAuthority) {
    EXPECT_EQ(discover::HostOf("https://user:pw@Example.org:8080/x"), "Example.org");
    EXPECT_EQ(discover::HostOf("http://[::1]:80/"), "[::1]");
    EXPECT_EQ(discover::HostOf("no host here"), "");
    EXPECT_EQ(discover::ComparableUrl("HTTP://Example.ORG:80/Feed?x#top"), "http://example.org/Feed?x");
    EXPECT_EQ(discover::ComparableUrl("https://example.org:443"), "https://example.org/");
    EXPECT_EQ(discover::ComparableUrl("https://example.org:8443/a"), "https://example.org:8443/a");
}

// Feed links are resolved with the feed library's resolver; these are the
// reference resolution examples of RFC 3986 (section 5.4).
TEST(ResolveURL, FollowsTheReferenceResolutionExamples) {
    const std::string base = "http://a/b/c/d;p?q";
    const struct {
        const char* reference;
        const char* expected;
    } cases[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"},
        {"g#s", "http://a/b/c/g#s"},
        {"g?y#s", "http://a/b/c/g?y#s"},
        {";x", "http://a/b/c/;x"},
        {"g;x", "http://a/b/c/g;x"},
        {"g;x?y#s", "http://a/b/c/g;x?y#s"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../", "http://a/"},
        {"../../g", "http://a/g"},
        // The abnormal examples.
        {"../../../g", "http://a/g"},
        {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {".g", "http://a/b/c/.g"},
        {"g..", "http://a/b/c/g.."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g?y/../x", "http://a/b/c/g?y/../x"},
        {"g#s/./x", "http://a/b/c/g#s/./x"},
        {"g#s/../x", "http://a/b/c/g#s/../x"},
        {"http:g", "http:g"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reference);
        EXPECT_EQ(feed::ResolveURL(base, c.reference), c.expected);
    }
}
