#include "Extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "FixtureFile.h"
#include "TimeBound.h"

namespace {

using extract::ExtractArticle;
using extract::TArticle;

std::string Page(const std::string& name) {
    return testsupport::ReadFixtureFile(std::string(EXTRACT_TEST_DATA) + "/" + name);
}

bool Has(const std::string& html, const std::string& phrase) { return html.find(phrase) != std::string::npos; }

// The words a reader sees in html (or plain text), lower case: runs of
// letters and digits, any non-ASCII byte counted as a letter. Tags that
// start a block separate words; inline ones ("spread<a>sheet</a>") do not;
// entities separate words.
std::vector<std::string> Words(const std::string& html) {
    static const std::vector<std::string> kBlocks = {"p",   "div",     "br",         "li",         "td",   "th", "tr",
                                                     "pre", "figure",  "figcaption", "blockquote", "img",  "hr", "dt",
                                                     "dd",  "caption", "ul",         "ol",         "table"};
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < html.size(); ++i) {
        const unsigned char c = html[i];
        if (c == '<' || c == '&') {
            const std::size_t end = html.find(c == '<' ? '>' : ';', i);
            std::string name;
            for (std::size_t j = i + 1; c == '<' && j < end && std::isalnum(static_cast<unsigned char>(html[j])); ++j)
                name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[j])));
            const bool heading =
                name.size() == 2 && name[0] == 'h' && std::isdigit(static_cast<unsigned char>(name[1]));
            if (c == '&' || heading || std::find(kBlocks.begin(), kBlocks.end(), name) != kBlocks.end())
                words.emplace_back();
            i = end == std::string::npos ? html.size() : end;
        } else if (std::isalnum(c) || c >= 0x80) {
            words.back() += static_cast<char>(std::tolower(c));
        } else if (!words.back().empty()) {
            words.emplace_back();
        }
    }
    std::erase(words, std::string());
    return words;
}

// Word-level F1 of the article's words against the expected text, counting
// repeated words as often as they occur.
double WordF1(const std::string& html, const std::string& expected) {
    std::map<std::string, int> wanted;
    for (const std::string& word : Words(expected)) ++wanted[word];
    const std::vector<std::string> found = Words(html);
    const std::size_t expectedCount = Words(expected).size();
    int matched = 0;
    for (const std::string& word : found)
        if (wanted[word]-- > 0) ++matched;
    if (matched == 0) return 0;
    const double precision = static_cast<double>(matched) / found.size(),
                 recall = static_cast<double>(matched) / expectedCount;
    return 2 * precision * recall / (precision + recall);
}

// What an article must never carry, whatever the page held.
void ExpectInert(const std::string& html) {
    for (const char* banned : {"<script", "<style", "<iframe", "<form", "javascript:", "style=", "class="})
        EXPECT_FALSE(Has(html, banned)) << banned;
    for (std::size_t at = html.find(" on"); at != std::string::npos; at = html.find(" on", at + 1)) {
        std::size_t end = at + 3;
        while (end < html.size() && std::isalpha(static_cast<unsigned char>(html[end]))) ++end;
        EXPECT_NE(html[end], '=') << html.substr(at, 20);
    }
}

TEST(ExtractArticle, FindsTheArticleOnSavedPagesAndLeavesTheRest) {
    const struct {
        const char* file;
        std::vector<std::string> found, absent;
        const char* title;
        const char* byline;
        const char* date;
    } pages[] = {
        {"news_ads_related.html",
         {"the new ferry terminal will open in March", "called the delay avoidable", "the first boat leaves at dawn"},
         {"Advertisement", "More from Harbour News", "Most read", "Share on Twitter", "Copyright 2024",
          "Story continues", "Breaking: markets", "__STATE__"},
         "Ferry terminal to open in March, a year late",
         "Ana Lima",
         "2024-02-12T08:30:00Z"},
        {"magazine_longform.html",
         {"kept a diary of every ship", "held in the county archive", "<h2>Chapter 2",
          "<img src=\"https://site.example/media/longform/fig4.jpg\"",
          "<figcaption>The keeper's cottage, photographed in 1952."},
         {"Get the weekly long read", "You might also like", "All rights reserved"},
         "The keeper of the northern light",
         "Tomas Berg",
         "2023-11-05"},
        {"wordpress_blog.html",
         {"rebuilt the sourdough starter", "rye flour for the first week", "<li>350 g water at room temperature</li>"},
         {"Share this:", "Recent Posts", "COMMENT TEXT", "Post Comment", "Previous post", "Posted in"},
         "Starting over with sourdough",
         "Mia",
         "2024-01-20T10:00:00+00:00"},
        {"blogger.html",
         {"from the old mill to the lighthouse", "the whole bay opened up",
          "https://blogger.example/img/path-s400.jpg"},
         {"Blog Archive", "About Me", "COMMENT TEXT", "BlogThis!", "Email This"},
         "The coastal path in one day",
         "Rhys",
         ""},
        {"medium_lazy.html",
         {"Most teams do not need microservices", "release time fell from days to minutes",
          "<img src=\"https://cdn-images.example/max/2000/lazy-hero.png\"",
          "https://cdn-images.example/large/chart.jpg"},
         {"Member-only story", "Recommended from", "Responses (14)", "data:image/jpeg"},
         "Back to the monolith",
         "Lena Ortiz",
         "2024-04-02T09:12:00.000Z"},
        {"wikipedia_like.html",
         {"stone arch bridge over the river Tay", "public subscription raised by the town guilds", "<h2>History"},
         {"Jump to content", "[edit]", "Bridges over the Tay", "Bridges completed in 1811", "last edited", "Topic"},
         "Lumen Bridge",
         "",
         ""},
        {"documentation.html",
         {"reads the project file and writes a build directory", "$ tool build --jobs 2", "<th>Option</th>",
          "Cross builds need a toolchain file"},
         {"Topic 3.4", "Docs</a> »", "Copyright 2024, The Tool Authors"},
         "Configure a build",
         "",
         ""},
        {"forum_thread.html",
         {"clicks off before the water boils", "thermostat disc under the base", "a new disc cost four pounds"},
         {"Post Reply", "Jump to forum", "WHO IS ONLINE", "SIGNATURE LINE"},
         "Kettle switches off early",
         "",
         ""},
        {"cookie_newsletter.html",
         {"four hundred old apple varieties", "matching fruit to drawings"},
         {"We use cookies", "Accept all cookies", "Before you go", "Sign me up"},
         "Counting the county's apples",
         "",
         ""},
        {"latin1_meta.html",
         {"Die B\xC3\xA4"
          "ckerei am Marktplatz \xC3\xB6"
          "ffnet wieder",
          "Se\xC3\xB1ora Mu\xC3\xB1oz", "drei\xC3\x9Fig"},
         {"Impressum"},
         "Die B\xC3\xA4"
         "ckerei \xC3\xB6"
         "ffnet wieder",
         "",
         ""},
        {"windows1252_undeclared.html",
         {"caf\xC3\xA9\xE2\x80\x99s owner",
          "\xE2\x80\x9Cnew menu\xE2\x80\x9D would cost \xE2\x82\xAC"
          "12 \xE2\x80\x93",
          "Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
          "e",
          "she added\xE2\x80\xA6"},
         {},
         "The caf\xC3\xA9 reopens",
         "",
         ""},
        {"jsonld_only.html",
         {"Night trains return to the valley line"},
         {"Related stories"},
         "Night trains return to the valley",
         "Kofi Mensah, Eva Novak",
         "2024-05-30T22:15:00+02:00"},
    };
    for (const auto& page : pages) {
        SCOPED_TRACE(page.file);
        const TArticle article = ExtractArticle(Page(page.file), "https://site.example/a/b.html");
        ASSERT_TRUE(article.Found) << article.Reason;
        for (const std::string& phrase : page.found) EXPECT_TRUE(Has(article.Html, phrase)) << "missing: " << phrase;
        for (const std::string& phrase : page.absent) EXPECT_FALSE(Has(article.Html, phrase)) << "kept: " << phrase;
        EXPECT_EQ(article.Title, page.title);
        EXPECT_EQ(article.Byline, page.byline);
        EXPECT_EQ(article.Date, page.date);
        EXPECT_GT(article.TextLength, 500u);
        ExpectInert(article.Html);
    }
}

// Real pages' clutter around and inside the article, each with the text a
// reader view shows beside it (name.txt): headline and byline left out.
TEST(ExtractArticle, FindsTheWordsOfTheArticleOnClutteredPages) {
    for (const char* name :
         {"bare_text_br", "div_title_headings", "news_split_sections", "blog_comment_articles", "amp_news",
          "docs_sphinx", "wiki_infobox", "newsletter_footnotes", "news_teaser_articles", "magazine_header_figure",
          "news_unmarked_split", "interview_short_paragraphs", "docs_line_numbers", "live_blog_articles",
          "script_rendered_jsonld", "short_post_long_comments"}) {
        const TArticle article = ExtractArticle(Page(std::string(name) + ".html"), "https://site.example/a/b.html");
        const double f1 = WordF1(article.Html, Page(std::string(name) + ".txt"));
        std::printf("%-26s F1 %.3f\n", name, f1);
        EXPECT_GE(f1, 0.9) << name << "\n" << article.Html;
    }
}

TEST(ExtractArticle, WallsAreNotArticlesAndTheFeedBodyIsKept) {
    const struct {
        const char* file;
        const char* reason;
    } walls[] = {{"login_wall.html", "sign in"}, {"paywall_teaser.html", "subscribers"}};
    for (const auto& wall : walls) {
        const TArticle article = ExtractArticle(Page(wall.file), "https://site.example/a");
        EXPECT_FALSE(article.Found) << wall.file;
        EXPECT_TRUE(Has(article.Reason, wall.reason)) << article.Reason;
        EXPECT_EQ(extract::ReasonToKeepFeedBody(article, "<p>Summary</p>"), article.Reason);
    }

    // A short article is no cookie wall for the settings link in the footer.
    const std::string brief =
        "<article><p>A short news item, with a comma or two, that fills a paragraph of its own.</p></article>"
        "<footer><a href='/cookies'>Cookie settings</a></footer>";
    EXPECT_TRUE(ExtractArticle(brief, "https://site.example/a").Found);

    const TArticle article = ExtractArticle(Page("jsonld_only.html"), "https://site.example/a");
    EXPECT_EQ(extract::ReasonToKeepFeedBody(article, "<p>A short summary.</p><script>var x = 1;</script>"),
              std::nullopt);
    const std::string longer = "<p>" + std::string(article.TextLength + 10, 'x') + "</p>";
    EXPECT_TRUE(extract::ReasonToKeepFeedBody(article, longer).has_value());
}

TEST(ExtractArticle, ResolvesAddressesAndDropsThoseThatAreNotWebAddresses) {
    const std::string paragraph = "<p>A paragraph long enough to be the article, with commas, clauses, and words.</p>";
    const std::string page =
        "<head><base href='/docs/v2/'></head><body><article>" + paragraph + paragraph +
        "<p><a href='guide.html#top'>guide</a> <a href='//cdn.example/x'>cdn</a> <a href='javascript:alert(1)'>js</a> "
        "<a href='file:///etc/passwd'>file</a> <a href='mailto:a@b.example'>mail</a> <a href=' ftp://x.example/ "
        "'>ftp</a>"
        "<img src='i/a.png' onerror='alert(1)'><img src='data:image/png;base64,iVBOR'>"
        "<img src='data:image/svg+xml;base64,PHN2Zz4='><img src='data:image/png;base64," +
        std::string(5000, 'A') + "'><img src='https://t.example/pixel.gif' width='1' height='1'></p></article></body>";
    const TArticle article = ExtractArticle(page, "https://site.example/blog/post");
    ASSERT_TRUE(article.Found) << article.Reason;
    EXPECT_TRUE(Has(article.Html, "<a href=\"https://site.example/docs/v2/guide.html#top\">guide</a>"));
    EXPECT_TRUE(Has(article.Html, "<a href=\"https://cdn.example/x\">cdn</a>"));
    EXPECT_TRUE(Has(article.Html, " js file mail ftp"));  // the text stays, the address goes
    EXPECT_TRUE(Has(article.Html, "<img src=\"https://site.example/docs/v2/i/a.png\">"));
    EXPECT_TRUE(Has(article.Html, "<img src=\"data:image/png;base64,iVBOR\">"));
    EXPECT_FALSE(Has(article.Html, "svg"));
    EXPECT_FALSE(Has(article.Html, "AAAA"));
    EXPECT_FALSE(Has(article.Html, "pixel.gif"));
    ExpectInert(article.Html);

    for (const char* address :
         {"file:///home/me/page.html", "javascript:alert(1)", "ftp://site.example/a", "", "https://"})
        EXPECT_FALSE(ExtractArticle(page, address).Found) << address;
}

TEST(ExtractArticle, TheHeadersCharsetWinsOverThePagesOwn) {
    const std::string page =
        "<meta charset='utf-8'><article><p>Gr\xFC\xDF"
        "e aus K\xF6ln, a sentence long enough, "
        "with commas, to be taken for the article itself.</p></article>";
    EXPECT_TRUE(Has(ExtractArticle(page, "http://site.example/", "text/html; charset=ISO-8859-1").Html,
                    "Gr\xC3\xBC\xC3\x9F"
                    "e aus K\xC3\xB6ln"));
    EXPECT_TRUE(Has(ExtractArticle(page, "http://site.example/", "latin1").Html, "K\xC3\xB6ln"));
    // Bytes that are valid in no declared encoding still give text, not a failure.
    const TArticle broken = ExtractArticle("\xEF\xBB\xBF" + page + "\xC3\x28\xFF\xFE", "http://site.example/");
    EXPECT_TRUE(broken.Found);
}

TEST(ExtractArticle, HostilePagesEndInBoundedTime) {
    using namespace std::chrono;
    const std::string sentence = "<p>Words of a paragraph, with a comma or two, long enough to score.</p>";
    std::string deep, wide, bigText, jsonLd, bareRuns, authors;
    for (int i = 0; i < 20000; ++i) authors += "<div class='author'>";
    authors += sentence + sentence;
    for (int i = 0; i < 20000; ++i) deep += "<div><span>";
    deep += sentence;
    bareRuns = deep;
    for (int i = 0; i < 20000; ++i) bareRuns += "</span>text<br><br></div>";
    for (int i = 0; i < 100000; ++i) wide += i % 10 == 0 ? sentence : "<div><a href='/x'>link</a></div>";
    bigText = "<article><p>" + std::string(32u * 1024 * 1024 - 100, 'w') + "</p></article>";
    jsonLd = "<script type='application/ld+json'>" + std::string(200000, '[') + "</script>" + sentence + sentence;
    const struct {
        const char* name;
        const std::string& page;
        milliseconds bound;
    } cases[] = {{"nesting 40,000 deep", deep, 3000ms},
                 {"bare text at 20,000 depths", bareRuns, 3000ms},
                 {"20,000 nested boxes named like bylines", authors, 3000ms},
                 {"100,000 elements", wide, 3000ms},
                 {"32 MB of text", bigText, 5000ms},
                 {"JSON nested 200,000 deep", jsonLd, 2000ms}};
    for (const auto& hostile : cases) {
        const auto start = steady_clock::now();
        const TArticle article = ExtractArticle(hostile.page, "https://site.example/");
        EXPECT_LT(steady_clock::now() - start, testsupport::TimeBound(hostile.bound)) << hostile.name;
        EXPECT_TRUE(article.Found) << hostile.name;
    }
    EXPECT_FALSE(ExtractArticle(std::string(extract::kMaxPageSize + 1, ' '), "https://site.example/").Found);
    EXPECT_FALSE(ExtractArticle("", "https://site.example/").Found);
}

}  // namespace
