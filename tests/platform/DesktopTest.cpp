#include "Desktop.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QObject>
#include <QUrl>

namespace {

TEST(DesktopUrlFor, AddressesStayAndPathsBecomeFileUrls) {
    const QString cwd = QDir::currentPath();
    struct Case {
        QString input;
        QUrl expected;
    };
    const std::vector<Case> cases = {
        {"https://example.org/feed?a=1&b=2", QUrl("https://example.org/feed?a=1&b=2")},
        {"mailto:news@example.org", QUrl("mailto:news@example.org")},
        {"  http://example.org/\n", QUrl("http://example.org/")},
        {"file:///tmp/x.xml", QUrl("file:///tmp/x.xml")},
        {"Quillet.chm", QUrl::fromLocalFile(cwd + "/Quillet.chm")},
        {"feeds/3.xml", QUrl::fromLocalFile(cwd + "/feeds/3.xml")},
        {"my help.chm", QUrl::fromLocalFile(cwd + "/my help.chm")},
        {"/usr/share/doc/x.html", QUrl::fromLocalFile("/usr/share/doc/x.html")},
        {"C:\\help.chm", QUrl::fromLocalFile(cwd + "/C:\\help.chm")},
        {"1:2", QUrl::fromLocalFile(cwd + "/1:2")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(plat::DesktopUrlFor(c.input), c.expected) << c.input.toStdString();
    }
    EXPECT_TRUE(plat::DesktopUrlFor("").isEmpty());
    EXPECT_TRUE(plat::DesktopUrlFor("   ").isEmpty());
}

// Stands in for the user's browser and file viewer, so the test opens
// nothing on the machine.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened.append(url); }
};

TEST(OpenWithDesktop, HandsTheUrlToTheDesktop) {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "Open");
    QDesktopServices::setUrlHandler("file", &recorder, "Open");
    EXPECT_TRUE(plat::OpenWithDesktop("https://example.org/item"));
    EXPECT_TRUE(plat::OpenWithDesktop("Quillet.chm"));
    EXPECT_FALSE(plat::OpenWithDesktop(""));
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("file");

    ASSERT_EQ(recorder.opened.size(), 2);
    EXPECT_EQ(recorder.opened[0], QUrl("https://example.org/item"));
    EXPECT_EQ(recorder.opened[1], QUrl::fromLocalFile(QDir::current().absoluteFilePath("Quillet.chm")));
}

}  // namespace

#include "DesktopTest.moc"
