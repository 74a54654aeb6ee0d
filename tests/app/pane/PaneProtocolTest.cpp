// The line protocol between the main window and the reading pane's helper,
// and the helper's side of it: messages survive any split of the byte
// stream, hostile lines are dropped, and the helper opens only what it
// asked about.
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "PaneProtocol.h"
#include "PaneServer.h"
#include "ReadingPane.h"
#include "WebBrowser.h"

namespace {

using apptest::WaitUntil;

TEST(PaneProtocol, MessagesSurviveAnySplitOfTheStream) {
    const QByteArray stream = pane::Encode("ask", {{"address", "http://example.invalid/a\nb \"q\" é"}}) +
                              pane::Encode("complete", {{"address", "/feeds/1.xml"}, {"ok", true}});
    for (qsizetype piece = 1; piece <= stream.size(); ++piece) {
        pane::TLineReader reader;
        std::vector<QJsonObject> got;
        for (qsizetype at = 0; at < stream.size(); at += piece)
            for (const QJsonObject& m : reader.Feed(stream.mid(at, piece))) got.push_back(m);
        ASSERT_EQ(got.size(), 2u) << "pieces of " << piece;
        EXPECT_EQ(got[0].value("op").toString(), "ask");
        EXPECT_EQ(got[0].value("address").toString(), QString::fromUtf8("http://example.invalid/a\nb \"q\" é"));
        EXPECT_EQ(got[1].value("ok").toBool(), true);
    }
}

TEST(PaneProtocol, OverlongAndMalformedLinesAreDropped) {
    pane::TLineReader reader;
    QByteArray huge(pane::kMaxLineBytes + 10, 'x');
    // An over-long line split in pieces, then garbage, then non-objects,
    // then one without a kind: none of them gives a message, and the line
    // after them still does.
    EXPECT_TRUE(reader.Feed(huge.left(100)).empty());
    EXPECT_TRUE(reader.Feed(huge.mid(100)).empty());
    const auto got = reader.Feed("\n{not json\n[1,2]\n\"text\"\n{\"address\":\"x\"}\n{\"op\":3}\n" +
                                 pane::Encode("status", {{"text", "after"}}));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].value("text").toString(), "after");
}

TEST(PaneServer, OpensOnlyAddressesItAskedAbout) {
    std::vector<QJsonObject> sent;
    pane::TLineReader reader;
    TPaneServer server([&](const QByteArray& line) {
        for (const QJsonObject& m : reader.Feed(line)) sent.push_back(m);
    });
    // An "open" nobody asked for would pass by the browser's own check of
    // the address: it is ignored.
    server.Receive(pane::Encode("open", {{"address", "file:///etc/passwd"}}));
    EXPECT_EQ(server.Browser()->LocationURL(), "");

    // A navigation is asked about first, and "open" for it loads it once.
    server.Receive(pane::Encode("navigate", {{"address", "http://127.0.0.1:1/story"}}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].value("op").toString(), "ask");
    EXPECT_EQ(sent[0].value("address").toString(), "http://127.0.0.1:1/story");
    EXPECT_EQ(server.Browser()->LocationURL(), "");
    server.Receive(pane::Encode("open", {{"address", "http://127.0.0.1:1/story"}}));
    EXPECT_EQ(server.Browser()->LocationURL(), "http://127.0.0.1:1/story");

    // Addresses the browser refuses outright are never even asked about.
    sent.clear();
    server.Receive(pane::Encode("navigate", {{"address", "javascript:alert(1)"}}));
    EXPECT_TRUE(sent.empty());
    // A window standing on its own follows the main window.
    server.Receive(pane::Encode("show", {{"embedded", false}}));
    EXPECT_TRUE(server.Browser()->isVisible());
    server.Receive(pane::Encode("hide"));
    EXPECT_FALSE(server.Browser()->isVisible());
}

TEST(ReadingPaneProgram, IsFoundBesideTheProgramOrInItsLibexec) {
    const QByteArray chosen = qgetenv("QUILLET_PANE_PROGRAM");
    EXPECT_EQ(TReadingPane::BrowserProgram(), QString::fromLocal8Bit(chosen));
    qunsetenv("QUILLET_PANE_PROGRAM");
    // The test runner has no helper beside it, as an installed bin/ has not.
    EXPECT_EQ(TReadingPane::BrowserProgram(),
              QCoreApplication::applicationDirPath() + "/../libexec/quillet/quillet-pane");
    qputenv("QUILLET_PANE_PROGRAM", chosen);
}

// A feed's unread keys pass the line bound many times over (2,000 links of
// 600 characters, and one key longer than any line): every line stays within
// the bound and every key that fits a line arrives.
TEST(PaneProtocol, UnreadKeysTravelInLinesWithinTheBound) {
    QJsonArray keys;
    for (int i = 0; i < 2000; ++i)
        keys.append(QString("l:http://long.example/%1/").arg(i).leftJustified(600, QChar(0x1f)));
    keys.append(QString(pane::kMaxLineBytes, 'k'));
    const std::vector<QByteArray> lines = pane::EncodeUnreadKeys(keys);
    ASSERT_GT(lines.size(), 2u);
    pane::TLineReader reader;
    QSet<QString> arrived;
    for (const QByteArray& line : lines) {
        EXPECT_LE(line.size(), pane::kMaxLineBytes);
        for (const QJsonObject& message : reader.Feed(line)) {
            EXPECT_EQ(message.value("op").toString(), "unread");
            for (const QJsonValue& key : message.value("keys").toArray()) arrived.insert(key.toString());
        }
    }
    EXPECT_EQ(arrived.size(), 2000);
    EXPECT_TRUE(arrived.contains(keys[1999].toString()));
}

}  // namespace

TEST(PaneProtocol, ArticleRequestsCarryAnyKey) {
    // Keys hold whatever a feed wrote: the address must give each back whole.
    for (const char* text : {"g:urn:a", "l:http://x/?key=1&b=%41#f", "t:Ünïcödé \"quoted\" <tag>"}) {
        const QString key = QString::fromUtf8(text);
        QString feedId, parsed;
        ASSERT_TRUE(pane::ParseArticleRequest(pane::ArticleRequestAddress("12", key), feedId, parsed)) << text;
        EXPECT_EQ(feedId, "12");
        EXPECT_EQ(parsed, key);
    }
    QString feedId, key;
    for (const char* other : {"https://example.org/?key=a", "quillet-article:12", "quillet-article:?key=a", ""})
        EXPECT_FALSE(pane::ParseArticleRequest(QString::fromUtf8(other), feedId, key)) << other;
}
