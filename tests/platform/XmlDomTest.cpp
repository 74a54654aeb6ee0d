#include "TempFolder.h"
#include "XmlDom.h"
#include "TimeBound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using xml::Document;
using xml::Node;
using xml::XmlError;

namespace {

using TempDir = testsupport::TempFolder;

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream out(name, std::ios::binary);
    out << text;
}

}  // namespace

TEST(XmlDom, WhitespaceBetweenElementsIsDroppedButSoleContentIsKept) {
    Document doc;
    doc.LoadFromString("<r>\n  <a> padded </a>\n  <b>   </b>\n  <c>\n    <![CDATA[<p>html</p>]]>\n  </c>\n</r>");
    Node root = doc.DocumentElement();
    EXPECT_EQ(root.ChildCount(), 3u);
    EXPECT_EQ(root.ChildByName("a").Text(), " padded ");
    EXPECT_EQ(root.ChildByName("b").Text(), "   ");
    Node c = root.ChildByName("c");
    ASSERT_EQ(c.ChildCount(), 1u);
    EXPECT_EQ(c.FirstChild().Type(), xml::NodeType::CData);
    EXPECT_EQ(c.Text(), "<p>html</p>");
}

// Inline XHTML (a feed's xhtml content) is laid out by a browser, where the
// blank between two elements is the space between two words; elsewhere
// blanks between elements are indentation and go.
TEST(XmlDom, WhitespaceInsideXhtmlMarkupIsKept) {
    const struct {
        const char* name;
        const char* text;
        const char* markup;  // of the root's one child element
    } cases[] = {
        {"blank between two elements", "<r>\n  <div xmlns='http://www.w3.org/1999/xhtml'><b>a</b> <i>b</i></div>\n</r>",
         "<b>a</b> <i>b</i>"},
        {"prefixed, and a line break",
         "<r xmlns:h='http://www.w3.org/1999/xhtml'>\n  <h:p><h:b>a</h:b>\n<h:i>b</h:i></h:p>\n</r>",
         "<b>a</b>\n<i>b</i>"},
        {"blanks after text", "<r><p xmlns='http://www.w3.org/1999/xhtml'>x <b>a</b> <i>b</i> </p></r>",
         "x <b>a</b> <i>b</i> "},
        {"nested", "<r><div xmlns='http://www.w3.org/1999/xhtml'><p><b>a</b> <i>b</i></p> <p>c</p></div></r>",
         "<p><b>a</b> <i>b</i></p> <p>c</p>"},
        {"blanks around an entity",
         "<!DOCTYPE r [<!ENTITY e 'E'>]><r><p xmlns='http://www.w3.org/1999/xhtml'><b>a</b> &e; <i>b</i></p></r>",
         "<b>a</b> E <i>b</i>"},
        {"no namespace: indentation", "<r><div><b>a</b> <i>b</i></div></r>", "<b>a</b><i>b</i>"},
        {"another namespace: indentation", "<r><div xmlns='urn:example:other'><b>a</b>\n <i>b</i></div></r>",
         "<b>a</b><i>b</i>"},
        {"outside the markup: indentation", "<r><c>\n <div xmlns='http://www.w3.org/1999/xhtml'>x</div>\n</c></r>",
         "<div>x</div>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Document doc;
        doc.LoadFromString(c.text);
        const Node root = doc.DocumentElement();
        ASSERT_EQ(root.ChildCount(), 1u) << "the root's own indentation is dropped";
        EXPECT_EQ(xml::ChildrenMarkup(root.FirstChild()), c.markup);
    }
}

TEST(XmlDom, TextOfMixedContentFailsButFirstChildTextReadsIt) {
    Document doc;
    doc.LoadFromString("<r><d><![CDATA[first]]><b>bold</b></d><e><i>inner</i> tail</e></r>");
    Node d = doc.DocumentElement().ChildByName("d");
    try {
        d.Text();
        FAIL() << "mixed content must not read as text";
    } catch (const XmlError& e) {
        EXPECT_STREQ(e.what(), "Element does not contain a single text node");
    }
    EXPECT_EQ(d.FirstChildText(), "first");
    EXPECT_EQ(doc.DocumentElement().ChildByName("e").FirstChildText(), "inner");
}

TEST(XmlDom, NamesAndTheNamespaceAwareFind) {
    Document doc;
    doc.LoadFromString(
        "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#' xmlns='http://purl.org/rss/1.0/'"
        " xmlns:dc='http://purl.org/dc/elements/1.1/'>"
        "<item><dc:date>2004</dc:date><title>T</title></item></rdf:RDF>");
    Node root = doc.DocumentElement();
    EXPECT_EQ(root.Name(), "rdf:RDF");
    EXPECT_EQ(root.LocalName(), "RDF");
    EXPECT_EQ(root.NamespaceURI(), "http://www.w3.org/1999/02/22-rdf-syntax-ns#");

    Node item = root.FindChild("item");
    ASSERT_TRUE(item.IsNull()) << "item is in the RSS 1.0 namespace, not the root's";
    item = root.ChildByName("item");
    ASSERT_FALSE(item.IsNull());
    EXPECT_EQ(item.FindChild("title").Text(), "T");
    // dc:date is in another namespace than its parent, so find skips it.
    EXPECT_TRUE(item.FindChild("dc:date").IsNull());

    Document plain;
    plain.LoadFromString("<rss xmlns:content='c'><item><content:encoded>x</content:encoded></item></rss>");
    Node plainItem = plain.DocumentElement().FindChild("item");
    EXPECT_EQ(plainItem.FindChild("content:encoded").Text(), "x");
    EXPECT_EQ(plainItem.FindChild("encoded").Text(), "x") << "local names match too";
}

TEST(XmlDom, AttributesAndChildrenAreFoundByTheirWholeQualifiedName) {
    Document doc;
    doc.LoadFromString(
        "<r xmlns:x='urn:x' x:id='p' id='plain' xid='joined' v='a&amp;b&#x41;'>"
        "<x:item>1</x:item><item>2</item></r>");
    Node root = doc.DocumentElement();
    EXPECT_EQ(root.Attribute("x:id"), std::optional<std::string>("p"));
    EXPECT_EQ(root.Attribute("id"), std::optional<std::string>("plain"));
    EXPECT_EQ(root.Attribute("xid"), std::optional<std::string>("joined"));
    EXPECT_EQ(root.Attribute("v"), std::optional<std::string>("a&bA"));
    for (const char* nearMiss : {"x:i", "x:idd", "x", "x:", ":id", "y:id", "x-id"})
        EXPECT_EQ(root.Attribute(nearMiss), std::nullopt) << nearMiss;
    EXPECT_EQ(root.ChildByName("x:item").Text(), "1");
    EXPECT_EQ(root.ChildByName("item").Text(), "2");
    EXPECT_TRUE(root.ChildByName("x:ite").IsNull());

    root.SetAttribute("x:id", "q");
    root.RemoveAttribute("id");
    EXPECT_EQ(root.Attribute("x:id"), std::optional<std::string>("q"));
    EXPECT_EQ(root.Attribute("id"), std::nullopt);
    EXPECT_EQ(root.AttributeCount(), 3u);
}

TEST(XmlDom, GetCreatesWhatFindDoesNot) {
    Document doc;
    doc.LoadFromString("<r a=''><x/></r>");
    Node root = doc.DocumentElement();
    EXPECT_FALSE(doc.Modified());
    EXPECT_EQ(root.Attribute("a"), std::optional<std::string>(""));
    EXPECT_EQ(root.Attribute("b"), std::nullopt);
    EXPECT_TRUE(root.FindChild("y").IsNull());
    EXPECT_FALSE(doc.Modified());

    EXPECT_EQ(root.GetChild("y").Text(), "");
    EXPECT_EQ(root.GetAttribute("b"), "");
    EXPECT_TRUE(doc.Modified());
    EXPECT_FALSE(root.FindChild("y").IsNull());
    EXPECT_TRUE(root.HasAttribute("b"));
}

TEST(XmlDom, EntitiesAreNeverLoadedFromOutside) {
    TempDir dir;
    WriteFile(dir.File("secret.txt"), "SECRET");
    Document doc;
    doc.LoadFromString("<?xml version='1.0'?><!DOCTYPE r [<!ENTITY ext SYSTEM 'file://" + dir.File("secret.txt") +
                       "'><!ENTITY inner 'inside'>]><r><a>&ext;</a><b>&inner; text</b>"
                       "<c>x &ext; y</c><d>&inner;&inner;, &inner;</d></r>");
    Node root = doc.DocumentElement();
    EXPECT_EQ(root.ChildByName("a").Text(), "");
    EXPECT_EQ(root.ChildByName("b").Text(), "inside text");
    EXPECT_EQ(root.ChildByName("c").Text(), "x  y") << "a dropped reference leaves one text node";
    EXPECT_EQ(root.ChildByName("d").Text(), "insideinside, inside");
    EXPECT_EQ(doc.SaveToString().find("SECRET"), std::string::npos);
}

TEST(XmlDom, HostileDocumentsFailFastWithoutCrashing) {
    // Each level refers to the one below ten times: a billion laughs.
    std::string laughs = "<?xml version='1.0'?><!DOCTYPE l [<!ENTITY l0 'lol'>";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " '";
        for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "'>";
    }
    laughs += "]><r a='&l9;'>&l9;</r>";

    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";

    const std::vector<std::string> hostile = {
        laughs,
        deep,
        "",
        "\x00\x01\x02garbage",
        "<r>",
        "<r><a></r>",
        "<?xml version='1.0' encoding='bogus'?><r/>",
        std::string("<r>\xff\xfe</r>"),
    };
    for (const std::string& text : hostile) {
        Document doc;
        auto start = std::chrono::steady_clock::now();
        try {
            doc.LoadFromString(text);
            // Whatever loads must be a document we can save and reload.
            Document again;
            again.LoadFromString(doc.SaveToString());
        } catch (const XmlError&) {
            EXPECT_TRUE(doc.IsEmpty());
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, testsupport::TimeBound(std::chrono::seconds(2)))
            << text.substr(0, 40);
    }
}

TEST(XmlDom, ParseErrorsCarryPositionAndFileName) {
    TempDir dir;
    WriteFile(dir.File("bad.xml"), "<r>\n<a></b>\n</r>");
    Document doc;
    try {
        doc.LoadFromFile(dir.File("bad.xml"));
        FAIL();
    } catch (const XmlError& e) {
        std::string message = e.what();
        EXPECT_NE(message.find("bad.xml"), std::string::npos) << message;
        EXPECT_NE(message.find("line 2"), std::string::npos) << message;
    }
    EXPECT_THROW(doc.LoadFromFile(dir.File("missing.xml")), XmlError);
}

TEST(XmlDom, TextThatXmlCannotCarryIsCleanedSoTheFileLoadsAgain) {
    TempDir dir;
    Document doc;
    Node root = doc.CreateDocumentElement("r");
    const std::string dirty = std::string(
                                  "a\x01"
                                  "b\x1f"
                                  "c\tline\r\nend ]]> <tag> &amp; ") +
                              "\xc3\x28" + "\xe2\x82\xac";
    root.AppendElement("t").SetText(dirty);
    root.SetAttribute("attr", "x\x02y\"'<");
    doc.SaveToFile(dir.File("out.xml"));

    Document back;
    back.LoadFromFile(dir.File("out.xml"));
    Node t = back.DocumentElement().ChildByName("t");
    EXPECT_EQ(t.Text(), xml::CleanText(dirty));
    EXPECT_EQ(t.Text(), "abc\tline\r\nend ]]> <tag> &amp; \xef\xbf\xbd(\xe2\x82\xac");
    EXPECT_EQ(back.DocumentElement().Attribute("attr"), std::optional<std::string>("xy\"'<"));
}

TEST(XmlDom, CleanTextLeavesValidTextAlone) {
    const std::vector<std::string> valid = {"",
                                            "plain",
                                            "\xd0\x9d\xd0\xbe\xd0\xb2\xd0\xbe\xd1\x81\xd1\x82\xd0\xb8",
                                            "\xe6\x97\xa5\xe6\x9c\xac",
                                            "\xf0\x9f\x93\xb0 emoji",
                                            "tab\tnl\ncr\r"};
    for (const auto& text : valid) EXPECT_EQ(xml::CleanText(text), text);
    EXPECT_EQ(xml::CleanText("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd") << "surrogates are invalid";
    EXPECT_EQ(xml::CleanText("\xc0\xaf"), "\xef\xbf\xbd\xef\xbf\xbd") << "overlong forms are invalid";
    EXPECT_EQ(xml::CleanText("\xef\xbf\xbe"), "") << "U+FFFE is not an XML character";
}

TEST(XmlDom, DeclarationStylesheetAndCommentsAreWrittenInOrder) {
    Document doc;
    doc.AppendProcessingInstruction("xml", "version=\"1.0\"");
    doc.AppendProcessingInstruction("xml-stylesheet", "type=\"text/xsl\" href=\"../rss.xsl\"");
    Node rss = doc.CreateDocumentElement("rss");
    rss.SetAttribute("version", "2.0");
    rss.AppendComment("a -- comment-");
    rss.AppendElement("channel");
    std::string text = doc.SaveToString();
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\"", 0), 0u) << text;
    auto pi = text.find("<?xml-stylesheet type=\"text/xsl\" href=\"../rss.xsl\"?>");
    auto root = text.find("<rss version=\"2.0\">");
    ASSERT_NE(pi, std::string::npos);
    ASSERT_NE(root, std::string::npos);
    EXPECT_LT(pi, root);

    Document back;
    back.LoadFromString(text);
    auto top = back.TopLevelNodes();
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0].Type(), xml::NodeType::ProcessingInstruction);
    EXPECT_EQ(top[0].Name(), "xml-stylesheet");
    EXPECT_EQ(back.DocumentElement().FirstChild().Type(), xml::NodeType::Comment);
}

TEST(XmlDom, HandlesRaiseAfterReloadOrDestructionInsteadOfCrashing) {
    Node kept;
    Node removed;
    {
        Document doc;
        doc.LoadFromString("<r><a/><b/></r>");
        kept = doc.DocumentElement().ChildByName("a");
        removed = doc.DocumentElement().ChildByName("b");
        removed.Remove();
        // A removed node stays usable (detached) until the document changes.
        EXPECT_EQ(removed.Name(), "b");
        EXPECT_NO_THROW(removed.SetAttribute("x", "1"));
        EXPECT_TRUE(doc.DocumentElement().ChildByName("b").IsNull());

        doc.LoadFromString("<other/>");
        EXPECT_THROW(kept.Name(), XmlError);
        EXPECT_THROW(removed.Text(), XmlError);
        kept = doc.DocumentElement();
    }
    EXPECT_THROW(kept.ChildCount(), XmlError);
    EXPECT_THROW(Node().Name(), XmlError);
}

TEST(XmlDom, AutoSaveWritesAModifiedDocumentOnceOnDestruction) {
    TempDir dir;
    const std::string file = dir.File("config.xml");
    WriteFile(file, "<config><a>1</a></config>");
    {
        Document doc;
        doc.SetAutoSave(true);
        doc.LoadFromFile(file);
        doc.DocumentElement().ChildByNameOrCreate("b").SetText("2");
        doc.Save();
        EXPECT_FALSE(doc.Modified());
        // Changed behind the document's back: an unmodified document must
        // not write it again when it closes.
        WriteFile(file, "<config>external</config>");
    }
    EXPECT_EQ(ReadFile(file), "<config>external</config>");
    {
        Document doc;
        doc.SetAutoSave(true);
        doc.LoadFromFile(file);
        doc.DocumentElement().SetText("changed");
    }
    Document back;
    back.LoadFromFile(file);
    EXPECT_EQ(back.DocumentElement().Text(), "changed");
}

TEST(XmlDom, SavedFilesAreIndentedUtf8FromLatin1Input) {
    Document doc;
    doc.LoadFromString("<?xml version='1.0' encoding='ISO-8859-1'?><r><a>caf\xe9</a><b/></r>");
    EXPECT_EQ(doc.DocumentElement().ChildByName("a").Text(), "caf\xc3\xa9");
    std::string text = doc.SaveToString();
    EXPECT_NE(text.find("\n  <a>caf\xc3\xa9</a>\n  <b/>\n"), std::string::npos) << text;
}

// Kills a process in the middle of saving a large document, many times at
// different moments: the target is always either the old file or the new
// one, complete.
TEST(XmlDom, ASaveInterruptedBeforeItsRenameLeavesTheOldFileIntact) {
    TempDir dir;
    const std::string file = dir.File("feed.xml");
    const std::string old = "<?xml version=\"1.0\"?>\n<old/>\n";
    WriteFile(file, old);

    for (int delayMs : {0, 1, 3, 10, 30}) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Document doc;
            Node root = doc.CreateDocumentElement("new");
            for (int i = 0; i < 200000; ++i) root.AppendElement("item").SetText("some item text to make the file big");
            doc.SaveToFile(file);
            ::_exit(0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        Document check;
        ASSERT_NO_THROW(check.LoadFromFile(file)) << "after " << delayMs << " ms";
        std::string root = check.DocumentElement().Name();
        EXPECT_TRUE(root == "old" || root == "new");
        if (root == "new") {
            EXPECT_EQ(check.DocumentElement().ChildCount(), 200000u);
            WriteFile(file, old);
        }
    }
}
