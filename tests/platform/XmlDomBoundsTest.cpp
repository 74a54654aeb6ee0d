// Entity amplification: a small document that names a large entity many
// times must be refused quickly and cheaply, while documents that use a few
// entities the ordinary way still read.
#include "XmlDom.h"
#include "TimeBound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using xml::Document;
using xml::XmlError;

namespace {

std::string EntityDocument(std::size_t entityLength, int references, bool inAttribute) {
    std::string text = "<?xml version='1.0'?><!DOCTYPE rss [<!ENTITY big '" + std::string(entityLength, 'x') + "'>]>";
    std::string refs;
    for (int i = 0; i < references; ++i) refs += "&big;";
    if (inAttribute) return text + "<rss><channel><title a='" + refs + "'>t</title></channel></rss>";
    return text + "<rss><channel><title>" + refs + "</title></channel></rss>";
}

// Many elements, each naming a mid-sized entity a few times: no single run
// of text is large, only the document's total is.
std::string SpreadDocument() {
    std::string text = "<?xml version='1.0'?><!DOCTYPE rss [<!ENTITY e '" + std::string(20000, 'y') + "'>]><rss>";
    for (int i = 0; i < 2000; ++i) text += "<item>&e;&e;</item>";
    return text + "</rss>";
}

// Each level names the one below ten times.
std::string NestedDocument() {
    std::string text = "<?xml version='1.0'?><!DOCTYPE l [<!ENTITY l0 'lollollollollollollol'>";
    for (int i = 1; i < 12; ++i) {
        text += "<!ENTITY l" + std::to_string(i) + " '";
        for (int k = 0; k < 10; ++k) text += "&l" + std::to_string(i - 1) + ";";
        text += "'>";
    }
    return text + "]><r a='&l11;&l11;'>&l11;&l11;&l11;</r>";
}

// Peak memory, in KiB, of a child process that loads `text`; -1 when the
// child did not end normally. The child exits 0 when the load was refused
// with XmlError, 1 when it loaded.
long ChildPeakKiBLoading(const std::string& text, int& exitCode) {
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 1;
        try {
            Document doc;
            doc.LoadFromString(text);
        } catch (const XmlError&) {
            code = 0;
        }
        _exit(code);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) return -1;
    exitCode = WEXITSTATUS(status);
    return usage.ru_maxrss;
}

long OwnPeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

TEST(XmlDomBounds, AmplifyingDocumentsAreRefusedQuicklyNamingTheCause) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"60,000-character entity named 4,000 times", EntityDocument(60000, 4000, false)},
        {"the same inside an attribute value", EntityDocument(60000, 4000, true)},
        {"a 20,000-character entity twice in 2,000 elements", SpreadDocument()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Document doc;
        const auto start = std::chrono::steady_clock::now();
        try {
            doc.LoadFromString(c.text);
            ADD_FAILURE() << "an amplifying document must be refused";
        } catch (const XmlError& error) {
            EXPECT_NE(std::string(error.what()).find("entity expansion limit"), std::string::npos) << error.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, testsupport::TimeBound(std::chrono::milliseconds(500)));
        EXPECT_TRUE(doc.IsEmpty());
    }
}

TEST(XmlDomBounds, RefusalCostsAFewTimesTheInputInMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's own bookkeeping dwarfs the figures";
#endif
    // Expanded in full, these would take 240 MB and 80 MB.
    for (const std::string& text : {EntityDocument(60000, 4000, false), SpreadDocument()}) {
        int exitCode = -1;
        const long peak = ChildPeakKiBLoading(text, exitCode);
        ASSERT_GE(peak, 0);
        EXPECT_EQ(exitCode, 0) << "refused";
        const long inputKiB = static_cast<long>(text.size() / 1024);
        EXPECT_LT(peak - OwnPeakKiB(), 16 * inputKiB + 8 * 1024) << "KiB above the parent's peak";
    }
}

TEST(XmlDomBounds, NestedEntitiesStayBounded) {
    const std::string text = NestedDocument();
    Document doc;
    const auto start = std::chrono::steady_clock::now();
    try {
        doc.LoadFromString(text);
        // Whatever loads holds no more than the budget allows.
        EXPECT_LT(doc.SaveToString().size(), 9 * text.size());
    } catch (const XmlError&) {
        EXPECT_TRUE(doc.IsEmpty());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, testsupport::TimeBound(std::chrono::milliseconds(500)));
}

TEST(XmlDomBounds, OrdinaryEntitiesStillReadInTextAndAttributes) {
    Document doc;
    doc.LoadFromString(
        "<?xml version='1.0'?><!DOCTYPE rss [<!ENTITY site 'Example News'><!ENTITY sep ' - '>"
        "<!ENTITY outside SYSTEM 'outside.txt'>]>"
        "<rss><channel><title lang='en' by='&site;&sep;desk'>&site;&sep;Daily</title>"
        "<description>About &site;, &amp; more &#233;</description>"
        "<item><title>&sep;</title></item><item><title>\n  &outside;  \n</title></item></channel></rss>");
    const xml::Node channel = doc.DocumentElement().ChildByName("channel");
    EXPECT_EQ(channel.ChildByName("title").Text(), "Example News - Daily");
    EXPECT_EQ(channel.ChildByName("title").Attribute("by"), "Example News - desk");
    EXPECT_EQ(channel.ChildByName("title").Attribute("lang"), "en");
    EXPECT_EQ(channel.ChildByName("description").Text(), "About Example News, & more \xC3\xA9");
    const std::vector<xml::Node> items = channel.ChildElements();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[2].ChildByName("title").Text(), " - ");
    EXPECT_EQ(items[3].ChildByName("title").Text(), "\n    \n") << "white space around a dropped reference stays";
    // Saved and loaded again, the expanded text is plain text.
    Document again;
    again.LoadFromString(doc.SaveToString());
    EXPECT_EQ(again.DocumentElement().ChildByName("channel").ChildByName("title").Text(), "Example News - Daily");
}

TEST(XmlDomBounds, TheBoundIsEightTimesTheDocumentsSize) {
    // With a 1,000-character entity each reference adds 5 bytes of input and
    // 1,000 of text: find the last count the bound allows.
    int allowed = 0;
    while (1000u * static_cast<std::size_t>(allowed + 1) <= 8 * EntityDocument(1000, allowed + 1, false).size())
        ++allowed;
    ASSERT_GT(allowed, 0);
    Document doc;
    ASSERT_NO_THROW(doc.LoadFromString(EntityDocument(1000, allowed, false)));
    EXPECT_EQ(doc.DocumentElement().ChildByName("channel").ChildByName("title").Text().size(), 1000u * allowed);
    EXPECT_THROW(doc.LoadFromString(EntityDocument(1000, allowed + 1, false)), XmlError);
}

// The parser checks an entity that holds markup on a context of its own,
// with the same callbacks as the document; nothing of that may reach the
// document, and the entity itself is dropped like any other holding markup.
TEST(XmlDomBounds, EntitiesHoldingMarkupAreDroppedWithoutHarm) {
    Document doc;
    doc.LoadFromString(
        "<!DOCTYPE r [<!ENTITY m '<b> x </b> <i>y</i>'><!ENTITY t 'T'>]>"
        "<r><a>1 &m; 2</a><a>&m;&m;</a><p xmlns='http://www.w3.org/1999/xhtml'>&t; &m; <b>z</b></p></r>");
    const std::vector<xml::Node> children = doc.DocumentElement().ChildElements();
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0].Text(), "1  2");
    EXPECT_FALSE(children[1].HasChildNodes());
    EXPECT_EQ(xml::ChildrenMarkup(children[2]), "T  <b>z</b>");
}
