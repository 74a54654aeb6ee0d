// The allow-list HTML cleaner for feed titles and descriptions.
#include "HtmlSanitizer.h"
#include "TimeBound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

struct Case {
    const char* name;
    std::string input;
    std::string expected;
};

void ExpectCleaned(const Case& c) {
    EXPECT_EQ(html::SanitizeFragment(c.input), c.expected) << c.name << "\n input: " << c.input;
}

}  // namespace

TEST(HtmlSanitizer, ArticleMarkupStays) {
    const Case cases[] = {
        {"plain text is escaped", "Fish & chips < 5 > 3", "Fish &amp; chips &lt; 5 &gt; 3"},
        {"paragraphs and emphasis", "<p>Some <b>bold</b>, <em>em</em> and <strong>strong</strong></p>",
         "<p>Some <b>bold</b>, <em>em</em> and <strong>strong</strong></p>"},
        {"lists", "<ul><li>one</li><li>two</li></ul><ol start=\"3\"><li>three</li></ol>",
         "<ul><li>one</li><li>two</li></ul><ol start=\"3\"><li>three</li></ol>"},
        {"links", "<a href=\"https://example.org/a?b=1&amp;c=2\" title=\"T\">x</a> <a href=\"mailto:a@b.c\">m</a>",
         "<a href=\"https://example.org/a?b=1&amp;c=2\" title=\"T\">x</a> <a href=\"mailto:a@b.c\">m</a>"},
        {"relative link kept", "<a href=\"/story/1\">s</a>", "<a href=\"/story/1\">s</a>"},
        {"images", "<img src=\"http://example.org/i.png\" alt=\"pic\" width=\"10\">",
         "<img src=\"http://example.org/i.png\" alt=\"pic\" width=\"10\">"},
        {"tables",
         "<table><thead><tr><th colspan=\"2\">h</th></tr></thead><tbody><tr><td>a</td><td>b</td></tr></tbody></table>",
         "<table><thead><tr><th colspan=\"2\">h</th></tr></thead><tbody><tr><td>a</td><td>b</td></tr></tbody></table>"},
        {"code and quotes", "<pre><code>int x = 1;\n  y</code></pre><blockquote cite=\"https://q.org/\">q</blockquote>",
         "<pre><code>int x = 1;\n  y</code></pre><blockquote cite=\"https://q.org/\">q</blockquote>"},
        {"headings and rules", "<h2>Title</h2><hr><h6>small</h6><br>", "<h2>Title</h2><hr><h6>small</h6><br>"},
        {"figures and pictures",
         "<figure><picture><source srcset=\"https://e.org/a.webp 2x\" type=\"image/webp\"><img "
         "src=\"https://e.org/a.jpg\"></picture>"
         "<figcaption>cap</figcaption></figure>",
         "<figure><picture><source srcset=\"https://e.org/a.webp 2x\" type=\"image/webp\"><img "
         "src=\"https://e.org/a.jpg\"></picture>"
         "<figcaption>cap</figcaption></figure>"},
        {"entities become text", "caf&eacute; &amp; &lt;tag&gt;", "caf\xC3\xA9 &amp; &lt;tag&gt;"},
    };
    for (const Case& c : cases) ExpectCleaned(c);
}

TEST(HtmlSanitizer, ActiveAndForeignMarkupGoes) {
    const Case cases[] = {
        {"script with its text", "<p>a<script>alert(1)</script>b</p>", "<p>ab</p>"},
        {"style element with its text", "<style>body{display:none}</style><p>x</p>", "<p>x</p>"},
        {"style attribute", "<p style=\"position:fixed;top:0\">x</p>", "<p>x</p>"},
        {"class and id", "<div class=\"channel\" id=\"top\">x</div>", "<div>x</div>"},
        {"event handlers", "<img src=\"https://e.org/i.png\" onerror=\"x()\" onload=\"y()\"><b onclick=\"z()\">b</b>",
         "<img src=\"https://e.org/i.png\"><b>b</b>"},
        {"meta refresh", "<meta http-equiv=\"refresh\" content=\"1;url=file:///etc/passwd\">text", "text"},
        {"iframe", "a<iframe src=\"file:///etc/passwd\">fallback</iframe>b", "ab"},
        {"frameset", "<frameset><frame src=\"file:///etc/passwd\"></frameset>", ""},
        {"object and embed",
         "<object data=\"file:///etc/passwd\"><param name=\"a\">alt</object><embed src=\"x.swf\">ok", "ok"},
        {"applet", "<applet code=\"A.class\">no java</applet>after", "after"},
        {"form keeps its text, loses its controls",
         "<form action=\"http://evil.example/\" method=\"post\"><label>Name <input name=\"n\"></label>"
         "<textarea>typed</textarea><select><option>o</option></select><button>Go</button></form>",
         "Name "},
        {"base and link", "<base href=\"file:///\"><link rel=\"stylesheet\" href=\"http://e.org/s.css\">x", "x"},
        {"svg and math", "<svg><script>1</script><a href=\"https://e.org\">s</a></svg><math><mi>x</mi></math>y", "y"},
        {"audio and video", "<video src=\"http://e.org/v.mp4\"><source src=\"http://e.org/v.webm\">v</video>", ""},
        {"comments", "a<!-- hidden -->b", "ab"},
        {"unknown elements give way to their text", "<custom-tag x=\"1\"><font color=\"red\">t</font></custom-tag>",
         "t"},
        {"target attribute", "<a href=\"https://e.org/\" target=\"_blank\">x</a>", "<a href=\"https://e.org/\">x</a>"},
    };
    for (const Case& c : cases) ExpectCleaned(c);
}

TEST(HtmlSanitizer, OnlyWebAndMailAddressesSurvive) {
    const Case cases[] = {
        {"javascript link", "<a href=\"javascript:alert(1)\">x</a>", "<a>x</a>"},
        {"javascript hidden by blanks", "<a href=\" \tjava\nscript:alert(1)\">x</a>", "<a>x</a>"},
        {"javascript hidden by character references", "<a href=\"&#106;avascript:alert(1)\">x</a>", "<a>x</a>"},
        {"upper-case scheme", "<a href=\"JAVASCRIPT:alert(1)\">x</a><a href=\"HTTPS://e.org/\">y</a>",
         "<a>x</a><a href=\"HTTPS://e.org/\">y</a>"},
        {"file link", "<a href=\"file:///etc/passwd\">x</a>", "<a>x</a>"},
        {"smb and custom schemes", "<a href=\"smb://host/share\">x</a><a href=\"steam://run/1\">y</a>",
         "<a>x</a><a>y</a>"},
        {"data link", "<a href=\"data:text/html,<b>x</b>\">x</a>", "<a>x</a>"},
        {"file image is dropped", "<img src=\"file:///home/u/.ssh/id_rsa\">x", "x"},
        {"data image is dropped", "<img src=\"data:image/png;base64,AAAA\">x", "x"},
        {"mailto image is dropped", "<img src=\"mailto:a@b.c\">x", "x"},
        {"srcset with a file candidate",
         "<img src=\"https://e.org/a.png\" srcset=\"https://e.org/b.png 2x, file:///x 3x\">",
         "<img src=\"https://e.org/a.png\">"},
        {"srcset candidate after one ending in a comma",
         "<img src=\"https://e.org/a.png\" srcset=\"https://e.org/b.png, data:image/png;base64,AAAA 2x\">",
         "<img src=\"https://e.org/a.png\">"},
        {"srcset candidate after commas only", "<img src=\"https://e.org/a.png\" srcset=\",,, file:///x\">",
         "<img src=\"https://e.org/a.png\">"},
        {"srcset commas inside a descriptor's parentheses",
         "<img srcset=\"https://e.org/a.png 1x (c, data:x), https://e.org/b.png 2x\">",
         "<img srcset=\"https://e.org/a.png 1x (c, data:x), https://e.org/b.png 2x\">"},
        {"quote cite", "<q cite=\"javascript:x\">q</q>", "<q>q</q>"},
        {"odd scheme characters", "<a href=\"ja va:x\">x</a>", "<a>x</a>"},
    };
    for (const Case& c : cases) ExpectCleaned(c);

    EXPECT_TRUE(html::IsSafeLinkUrl("https://e.org/x:y"));
    EXPECT_TRUE(html::IsSafeLinkUrl("page?a=b:c"));
    EXPECT_TRUE(html::IsSafeLinkUrl("//cdn.example/x"));
    EXPECT_FALSE(html::IsSafeImageUrl("mailto:x@y"));
    EXPECT_FALSE(html::IsSafeLinkUrl(":nothing"));
}

TEST(HtmlSanitizer, TextNestedPastTheParsersDepthIsKept) {
    const auto repeat = [](const std::string& text, int count) {
        std::string out;
        for (int i = 0; i < count; ++i) out += text;
        return out;
    };
    const struct {
        const char* name;
        std::string input;
        std::string outer;  // markup near the top that stays
    } cases[] = {
        {"300 divs", "<p>top</p>" + repeat("<div>", 300) + "DEEP" + repeat("</div>", 300) + "AFTER", "<p>top</p>"},
        {"unclosed fonts", "<b>top</b>" + repeat("<font>", 1000) + "DEEP<a href=\"javascript:x()\">l</a> AFTER",
         "<b>top</b>"},
        {"end tags the parser ignores", "<i>top</i>" + repeat("<b><div></b>", 300) + "DEEP AFTER", "<i>top</i>"},
        {"a tag never closed", repeat("<div>", 300) + "DEEP AFTER <b title=\"x", ""},
    };
    for (const auto& c : cases) {
        const std::string cleaned = html::SanitizeFragment(c.input);
        for (const char* text : {"DEEP", "AFTER"}) EXPECT_NE(cleaned.find(text), std::string::npos) << c.name << text;
        EXPECT_EQ(cleaned.find("javascript"), std::string::npos) << c.name;
        EXPECT_EQ(cleaned.rfind(c.outer, 0), 0u) << c.name << ": " << cleaned.substr(0, 40);
    }
}

TEST(HtmlSanitizer, HostileShapesEndQuickly) {
    const auto deep = [](const char* open, int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += open;
        return text + "x";
    };
    std::string manyAttributes = "<p";
    for (int i = 0; i < 20000; ++i) manyAttributes += " a" + std::to_string(i) + "=\"1\"";
    manyAttributes += ">x</p>";
    std::string manyTags;
    for (int tag = 0; tag < 2000; ++tag) {
        manyTags += "<b";
        for (int i = 0; i < 400; ++i) manyTags += " a" + std::to_string(i) + "=1";
        manyTags += ">x</b>";
    }
    const std::string hostile[] = {
        deep("<div>", 100000),
        deep("<b><i>", 50000),
        deep("<table><tr><td>", 20000),
        deep("</p>", 100000),
        deep("<p>", 100000) + deep("</div>", 100000),
        manyAttributes,
        manyTags,
        std::string(1 << 21, '<'),
        std::string("<p>\xff\xfe broken \xc3</p>"),
    };
    for (const std::string& text : hostile) {
        const auto start = std::chrono::steady_clock::now();
        const std::string cleaned = html::SanitizeFragment(text);
        EXPECT_LT(std::chrono::steady_clock::now() - start, testsupport::TimeBound(std::chrono::seconds(2)))
            << text.substr(0, 30);
        EXPECT_EQ(cleaned.find("<script"), std::string::npos);
    }
    // Past the attribute bound the fragment is still shown, as text.
    EXPECT_EQ(html::SanitizeFragment(manyAttributes).substr(0, 13), "&lt;p a0=\"1\" ");
    // A few attributes per tag are ordinary.
    EXPECT_EQ(html::SanitizeFragment("<img src=\"https://e.org/i\" alt=\"a\" title=\"t\" width=\"1\" height=\"2\">"),
              "<img src=\"https://e.org/i\" alt=\"a\" title=\"t\" width=\"1\" height=\"2\">");
}
