#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "FeedTestSupport.h"

using namespace feed;

namespace {

std::string Root(const std::string& name, const std::string& attributes = "") {
    return "<" + name + attributes + "><channel><title>t</title><item><title>i</title></item></channel></" + name + ">";
}

}  // namespace

TEST(FeedDocument, FreshComponent) {
    TFeedDocument doc;
    EXPECT_EQ(doc.Version(), "2.0");
    EXPECT_EQ(doc.XMLType(), xtRDF);
    EXPECT_EQ(doc.Items().Count(), 0);
    EXPECT_EQ(doc.Items().Owner(), &doc);
    EXPECT_TRUE(doc.XMLFile().IsEmpty());
    EXPECT_EQ(doc.XSLFileName(), "");
}

TEST(FeedDocument, RootDetectionInAnyLetterCase) {
    struct Case {
        std::string root;
        TXMLType type;
    };
    const std::vector<Case> cases = {
        {"rss", xtRSS},   {"RSS", xtRSS},     {"Rss", xtRSS},     {"feed", xtAtom},
        {"FEED", xtAtom}, {"rdf:RDF", xtRDF}, {"RDF:rdf", xtRDF},
    };
    for (const Case& c : cases) {
        TFeedDocument doc;
        doc.SetXMLType(c.type == xtRSS ? xtAtom : xtRSS);
        const std::string ns =
            c.root.find(':') != std::string::npos ? " xmlns:" + c.root.substr(0, c.root.find(':')) + "=\"urn:x\"" : "";
        ASSERT_NO_THROW(doc.LoadFromString(Root(c.root, ns))) << c.root;
        EXPECT_EQ(doc.XMLType(), c.type) << c.root;
    }
}

TEST(FeedDocument, UnknownRootsAreRejectedByName) {
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {Root("RDF"), "unkown format: RDF"},
        {Root("html"), "unkown format: html"},
        {Root("r:RDF", " xmlns:r=\"urn:not-rdf\""), "unkown format: r:RDF"},
        {Root("atom:link", " xmlns:atom=\"http://www.w3.org/2005/Atom\""), "unkown format: atom:link"},
        {"<feeds/>", "unkown format: feeds"},
        {"<channel/>", "unkown format: channel"},
    };
    for (const Case& c : cases) {
        TFeedDocument doc;
        doc.SetXMLType(xtAtom);
        EXPECT_EQ(feedtest::LoadError(doc, c.text), c.message);
        EXPECT_EQ(doc.XMLType(), xtAtom) << "kept from before";
    }
}

TEST(FeedDocument, UnknownFormatIsAFeedException) {
    TFeedDocument doc;
    EXPECT_THROW(doc.LoadFromString("<html/>"), TFeedException);
}

TEST(FeedDocument, UnknownFormatLeavesAnEmptyModelAndTheLoadedDocument) {
    TFeedDocument doc;
    doc.LoadFromString(Root("rss", " version=\"0.91\""));
    ASSERT_EQ(doc.Items().Count(), 1);
    EXPECT_THROW(doc.LoadFromString("<html version=\"5\"><body/></html>"), TFeedException);
    EXPECT_EQ(doc.Channel().Required().Title(), "Title Required");
    EXPECT_EQ(doc.Items().Count(), 0);
    EXPECT_EQ(doc.Version(), "0.91");
    EXPECT_EQ(doc.XMLType(), xtRSS);
    EXPECT_EQ(doc.XMLFile().DocumentElement().Name(), "html");
}

TEST(FeedDocument, VersionComesFromTheRootWhenPresent) {
    struct Case {
        std::string text;
        std::string version;
    };
    const std::vector<Case> cases = {
        {Root("rss", " version=\"0.91\""), "0.91"},
        {"<feed version=\"0.3\"><title>a</title></feed>", "0.3"},
        {"<feed version=\"\"><title>a</title></feed>", ""},
        {"<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"/>", "2.0"},
    };
    for (const Case& c : cases) {
        TFeedDocument doc;
        doc.LoadFromString(c.text);
        EXPECT_EQ(doc.Version(), c.version) << c.text;
    }
    // A root without the attribute keeps what the component had.
    TFeedDocument doc;
    doc.LoadFromString(Root("rss", " version=\"0.92\""));
    doc.LoadFromString(Root("rss"));
    EXPECT_EQ(doc.Version(), "0.92");
}

TEST(FeedDocument, MalformedInputKeepsThePreviousModel) {
    TFeedDocument doc;
    doc.LoadFromString(Root("rss", " version=\"0.91\""));
    EXPECT_THROW(doc.LoadFromString("<rss><channel>"), xml::XmlError);
    EXPECT_TRUE(doc.XMLFile().IsEmpty());
    EXPECT_EQ(doc.Channel().Required().Title(), "t");
    EXPECT_EQ(doc.Items().Count(), 1);
    EXPECT_EQ(doc.Version(), "0.91");
    EXPECT_EQ(doc.XMLType(), xtRSS);
}

TEST(FeedDocument, ALoadAfterAFailedLoadWorks) {
    TFeedDocument doc;
    EXPECT_THROW(doc.LoadFromString("not xml at all"), xml::XmlError);
    EXPECT_THROW(doc.LoadFromString("<html/>"), TFeedException);
    doc.LoadFromString(feedtest::Fixture("rss20_full_channel.xml"));
    EXPECT_EQ(doc.XMLType(), xtRSS);
    EXPECT_EQ(doc.Items().Count(), 2);
    EXPECT_EQ(doc.Channel().Required().Title(), " News ");
}

TEST(FeedDocument, ASecondLoadDiscardsTheFirstFeed) {
    TFeedDocument doc;
    doc.LoadFromString(feedtest::Fixture("rss20_full_channel.xml"));
    ASSERT_EQ(doc.Items().Count(), 2);
    doc.LoadFromString(feedtest::Fixture("atom_head_with_entries_beside.xml"));
    EXPECT_EQ(doc.Items().Count(), 2);
    EXPECT_EQ(doc.Items()[0].Title(), "Beside the head");
    EXPECT_FALSE(doc.Channel().Optional().CopyrightModified());
    EXPECT_EQ(doc.Channel().Optional().Categories().Count(), 0);
}

TEST(FeedDocument, LoadFromFileAndMissingFile) {
    TFeedDocument doc;
    doc.LoadFromFile(feedtest::FixturePath("rdf_items_beside_channel.xml"));
    EXPECT_EQ(doc.XMLType(), xtRDF);
    EXPECT_EQ(doc.Channel().Required().Title(), "RDF News");
    EXPECT_THROW(doc.LoadFromFile(feedtest::FixturePath("no_such_file.xml")), xml::XmlError);
    EXPECT_EQ(doc.Channel().Required().Title(), "RDF News");
}

TEST(FeedDocument, SaveToAnUnwritablePlaceRaisesAndKeepsTheGeneratedDocument) {
    TFeedDocument doc;
    EXPECT_THROW(doc.SaveToFile("/nonexistent-folder/feeds/1.xml"), xml::XmlError);
    EXPECT_EQ(doc.XMLFile().DocumentElement().Name(), "rss");
}

TEST(FeedDocument, SaveReplacesAnExistingFile) {
    feedtest::TempDir dir;
    const std::string file = dir.File("1.xml");
    {
        TFeedDocument doc;
        doc.LoadFromString(feedtest::Fixture("rss20_full_channel.xml"));
        doc.SaveToFile(file);
    }
    TFeedDocument doc;
    doc.LoadFromString(feedtest::Fixture("rss_no_items_no_categories.xml"));
    doc.SaveToFile(file);
    TFeedDocument back;
    back.LoadFromFile(file);
    EXPECT_EQ(back.Channel().Required().Title(), "Quiet");
    EXPECT_EQ(back.Items().Count(), 0);
}

// Roots are known by local name and namespace, not by the prefix written.
TEST(FeedDocument, RootsAreRecognisedByLocalNameAndNamespace) {
    struct Case {
        std::string text;
        TXMLType type;
    };
    const std::vector<Case> cases = {
        {Root("r:RDF", " xmlns:r=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\""), xtRDF},
        {Root("RDF", " xmlns=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\""), xtRDF},
        {Root("a:rss", " xmlns:a=\"urn:a\""), xtRSS},
        {Root("rss", " xmlns=\"http://backend.userland.com/rss2\""), xtRSS},
        {Root("atom10:feed", " xmlns:atom10=\"http://www.w3.org/2005/Atom\""), xtAtom},
        {Root("feed", " xmlns=\"http://purl.org/atom/ns#\" version=\"0.3\""), xtAtom},
    };
    for (const Case& c : cases) {
        TFeedDocument doc;
        doc.SetXMLType(c.type == xtRDF ? xtRSS : xtRDF);
        EXPECT_EQ(feedtest::LoadError(doc, c.text), "") << c.text;
        EXPECT_EQ(doc.XMLType(), c.type) << c.text;
    }
}
