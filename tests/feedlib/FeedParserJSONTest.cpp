// JSON Feed: what each field of the publishers' feeds becomes, what a
// field of the wrong type costs, and the documents that are refused.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "FeedTestSupport.h"
#include "FeedUtils.h"

using namespace feed;

namespace {

// One value of the model by a short path: "title", "image", "language",
// or "<item>.<field>".
std::string Value(const TFeedDocument& doc, const std::string& path) {
    const TRSSChannelOpt& opt = doc.Channel().Optional();
    if (path == "title") return doc.Channel().Required().Title();
    if (path == "description") return doc.Channel().Required().Desc();
    if (path == "image") return opt.Image().Include() ? opt.Image().Required().URL() : "-";
    if (path == "language") return opt.Language() == langX ? "x " + opt.XLang() : LanguageCode(opt.Language());
    if (path == "items") return std::to_string(doc.Items().Count());
    const TRSSItem& item = doc.Items()[std::stoi(path)];
    const std::string field = path.substr(path.find('.') + 1);
    if (field == "description") return item.Description();
    if (field == "content") return item.Content();
    if (field == "authorUrl") return item.Author().URL;
    if (field == "guid") return item.GUID().Include() ? item.GUID().GUID() : "-";
    if (field == "date") return item.PubDate().Modified() ? item.PubDate().ToRFC822() : "-";
    if (field == "enclosure")
        return item.Enclosure().Include() ? item.Enclosure().URL() + " " + item.Enclosure().EnclosureType() + " " +
                                                std::to_string(item.Enclosure().Length())
                                          : "-";
    std::string categories;
    for (int i = 0; i < item.Categories().Count(); ++i) categories += item.Categories()[i].Title() + ";";
    return field == "categories" ? categories : "unknown path " + path;
}

std::string Nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

}  // namespace

TEST(JSONFeed, FieldsOfThePublishersFeeds) {
    struct Case {
        const char* fixture;
        const char* path;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"json11_wordpress_plugin.json", "language", "en-gb"},
        {"json11_wordpress_plugin.json", "image",
         "https://blog.example.org/wp-content/uploads/2026/01/cropped-icon-512x512.png"},
        {"json11_wordpress_plugin.json", "0.description", "Paragraph one. [&hellip;]"},
        {"json11_wordpress_plugin.json", "0.content",
         "<p>Paragraph one.</p>\n<p>Paragraph two, with <a href=\"https://example.org/\">a link</a>.</p>\n"},
        {"json11_wordpress_plugin.json", "0.categories", "Long reads;News;"},
        {"json11_wordpress_plugin.json", "0.guid", "https://blog.example.org/?p=123"},
        {"json11_hugo_text_only.json", "image", "https://garden.example.net/favicon.ico"},
        {"json11_hugo_text_only.json", "0.content",
         "<p>Planted the tomatoes today.<br>\nThe peppers go in next week.</p>\n"
         "<p>Soil: 3 parts compost &lt; 1 part sand &amp; grit.</p>"},
        {"json11_hugo_text_only.json", "1.description", "<p>Turned the heap.</p>"},
        {"json11_hugo_text_only.json", "1.date", "Fri, 10 Apr 2026 09:30:00 Z"},  // date_modified
        {"json11_hugo_text_only.json", "1.authorUrl", ""},                        // its own author
        {"json11_hugo_text_only.json", "0.authorUrl", "https://garden.example.net/about/"},
        {"json10_microblog.json", "1.authorUrl", "https://mia.micro.example/"},  // the feed's author
        {"json10_microblog.json", "0.date", "Tue, 08 Dec 2026 09:41:23 -0500"},
        // Version 1 spelt with "http://", as generators of its first years wrote it.
        {"json10_http_version.json", "0.date", "Wed, 17 May 2017 08:02:12 +0200"},
        {"json10_http_version.json", "0.guid", "http://old.example.net/2017/05/17/hello"},
        {"json10_podcast_attachments.json", "image", "https://podcast.example.org/artwork-512.png"},
        {"json10_podcast_attachments.json", "0.guid", "42"},
        {"json10_podcast_attachments.json", "1.enclosure", "https://cdn.podcast.example.org/ep41.mp3 audio/mpeg 0"},
        // Wrong types cost the field, never the feed.
        {"json_hostile_wrong_types.json", "title", "42"},
        {"json_hostile_wrong_types.json", "description", "Description Required"},
        {"json_hostile_wrong_types.json", "image", "-"},
        {"json_hostile_wrong_types.json", "items", "3"},
        {"json_hostile_wrong_types.json", "0.guid", "-"},
        {"json_hostile_wrong_types.json", "0.description", "<p>12</p>"},
        {"json_hostile_wrong_types.json", "0.date", "Tue, 08 Dec 2026 10:00:00 Z"},
        {"json_hostile_wrong_types.json", "0.enclosure", "-"},
        {"json_hostile_wrong_types.json", "1.guid", "1.5"},
        {"json_hostile_wrong_types.json", "1.categories", "1;ok;"},
        {"json_hostile_wrong_types.json", "1.enclosure", "https://wrong.example/b.mp3  0"},
        {"json_hostile_wrong_types.json", "2.guid", "18446744073709551615"},
        {"json_hostile_wrong_types.json", "2.enclosure", "https://wrong.example/c.mp3  0"},
    };
    for (const Case& c : cases) {
        TFeedDocument doc;
        ASSERT_EQ(feedtest::LoadError(doc, feedtest::Fixture(c.fixture)), "") << c.fixture;
        EXPECT_EQ(Value(doc, c.path), c.expected) << c.fixture << " " << c.path;
    }
    TFeedDocument doc;
    doc.LoadFromString(feedtest::Fixture("json_hostile_wrong_types.json"));
    EXPECT_EQ(doc.Items()[0].Author().Name, "Real Name");
    EXPECT_EQ(doc.Items()[1].Author().Name, "Plain Name");
}

TEST(JSONFeed, RefusedWithAClearMessage) {
    const std::string feed = "{\"version\": \"https://jsonfeed.org/version/1.1\", \"title\": ";
    struct Case {
        std::string text;
        std::string message;  // how the message starts
    };
    const std::vector<Case> cases = {
        {feed + "\"t\", \"items\": [", "JSON parse error at line 1, column "},
        {feed + "\"caf\xC3\"}", "JSON parse error at line 1, column "},
        {feed + "1e999}", "JSON number overflow"},
        {"{\"title\": \"t\", \"items\": []}", "unkown format: JSON that is not a JSON Feed"},
        {"{\"version\": \"https://jsonfeed.org/version/2\"}", "unkown format: JSON that is not a JSON Feed"},
        {"{\"version\": \"https://jsonfeed.org/version/10\"}", "unkown format: JSON that is not a JSON Feed"},
        {"{\"version\": 1.1}", "unkown format: JSON that is not a JSON Feed"},
        {"{\"version\": \"http://jsonfeed.org/version/2\"}", "unkown format: JSON that is not a JSON Feed"},
        {"{\"version\": \"ftp://jsonfeed.org/version/1\"}", "unkown format: JSON that is not a JSON Feed"},
        {"{\"version\": \"https://jsonfeed.org/version/1x\"}", "unkown format: JSON that is not a JSON Feed"},
        {Nested(256), "unkown format: JSON that is not a JSON Feed"},
        {Nested(257), "JSON document nested too deeply (more than 256 levels)"},
        {std::string(1000000, '['), "JSON document nested too deeply"},
        {feedtest::Fixture("json_hostile_deeply_nested.json"), "JSON document nested too deeply"},
        {feed + "\"" + std::string(33 * 1024 * 1024, 'a') + "\"}",
         "JSON document too large: a feed may not exceed 32 MiB"},
        {"  \n<rss><channel><title>t", "XML parse error"},
    };
    for (const Case& c : cases) {
        const std::string error = feedtest::LoadError(c.text);
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error << "\n" << c.text.substr(0, 80);
        EXPECT_LT(error.size(), 400u) << "the message quotes too much of the text";
    }
    // An unterminated string of a megabyte is quoted in the message only in part.
    EXPECT_LT(feedtest::LoadError(feed + "\"" + std::string(1'000'000, 'x')).size(), 400u);
}

// As for XML: malformed text keeps the previous feed; JSON of another kind
// leaves nothing of it.
TEST(JSONFeed, FailedLoadsKeepOrEmptyTheModelAsForXML) {
    TFeedDocument doc;
    doc.LoadFromString(feedtest::Fixture("json10_podcast_attachments.json"));
    EXPECT_EQ(doc.XMLType(), xtJSON);
    EXPECT_TRUE(doc.XMLFile().IsEmpty());
    EXPECT_NE(feedtest::LoadError(doc, "{\"version\": "), "");
    EXPECT_EQ(doc.Items().Count(), 2);
    EXPECT_NE(feedtest::LoadError(doc, "{\"title\": \"not a feed\"}"), "");
    EXPECT_EQ(doc.Items().Count(), 0);
    EXPECT_EQ(doc.Channel().Required().Title(), "Title Required");
}

TEST(JSONFeed, FilesWithAByteOrderMarkBlanksAndHugeStrings) {
    feedtest::TempDir dir;
    const std::string huge(3'000'000, 'h');
    const std::string text = "\xEF\xBB\xBF\r\n \t{\"version\": \"https://jsonfeed.org/version/1\", \"title\": \"" +
                             huge + "\", \"items\": [{\"id\": 1, \"url\": \"/posts/1\", \"content_text\": \"" + huge +
                             "\"}]}";
    std::ofstream(dir.File("feed.json"), std::ios::binary) << text;
    TFeedDocument doc;
    doc.SetDocumentURL("https://site.example/feeds/feed.json");
    ASSERT_NO_THROW(doc.LoadFromFile(dir.File("feed.json")));
    EXPECT_EQ(doc.Channel().Required().Title(), huge);
    ASSERT_EQ(doc.Items().Count(), 1);
    EXPECT_EQ(doc.Items()[0].Link(), "https://site.example/posts/1");
    EXPECT_EQ(doc.Items()[0].Description(), "<p>" + huge + "</p>");
    doc.SaveToFile(dir.File("copy.xml"));
    TFeedDocument copy;
    copy.LoadFromFile(dir.File("copy.xml"));
    EXPECT_EQ(copy.XMLType(), xtRSS);
    EXPECT_EQ(copy.Items()[0].Description(), "<p>" + huge + "</p>");
}

// JSON escapes may spell characters XML cannot carry: the stored copy
// holds the title the next download is compared with.
TEST(JSONFeed, EscapedTitlesReadBackFromTheStoredCopyAsCompared) {
    const std::vector<std::string> titles = {"Tab\\tand\\u0001bell", "NUL\\u0000here", "\\ud83d\\udcf0 news",
                                             "\\\"quoted\\\" \\/ <b>&amp;</b>", "line\\r\\nbreak"};
    for (const std::string& title : titles) {
        TFeedDocument doc;
        doc.LoadFromString("{\"version\": \"https://jsonfeed.org/version/1\", \"items\": [{\"title\": \"" + title +
                           "\"}]}");
        doc.GenerateXML();
        TFeedDocument copy;
        ASSERT_EQ(feedtest::LoadError(copy, doc.XMLFile().SaveToString()), "") << title;
        ASSERT_EQ(copy.Items().Count(), 1) << title;
        EXPECT_EQ(copy.Items()[0].Title(), ComparableTitle(doc.Items()[0].Title())) << title;
    }
}
