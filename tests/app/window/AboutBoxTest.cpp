// The about box: its parts, its links and its translation.
#include "fAbout.h"

#include <gtest/gtest.h>

#include <memory>

#include <QAction>
#include <QActionGroup>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

#include "AppInfo.h"
#include "AppTestSupport.h"
#include "XmlDom.h"
#include "uvxLanguage.h"

namespace {

// Stands in for the desktop's browser: records what it was asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened.append(url); }
};

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::make_unique<apptest::TStagedHome>();
        GlobalLanguage().Scan("languages");
        GlobalLanguage().SetLCID(1033);
    }
    void TearDown() override {
        GlobalLanguage().SetLCID(1033);
        home_.reset();
    }
    std::unique_ptr<apptest::TStagedHome> home_;
};

}  // namespace

TEST_F(AboutBoxTest, ShowsTheProgramAndItsLinks) {
    TAboutBox box(nullptr);
    EXPECT_EQ(box.objectName(), "AboutBox");
    EXPECT_GE(box.width(), 298);
    EXPECT_GE(box.height(), 197);
    EXPECT_EQ(box.Label1->text(), "Veltrax Quillet 1.1");
    EXPECT_FALSE(box.Label2->text().isEmpty());
    ASSERT_FALSE(box.Image1->pixmap().isNull());
    EXPECT_EQ(box.Image1->size(), QSize(48, 48));
    EXPECT_TRUE(box.OKButton->isDefault());

    const struct {
        QToolButton* button;
        QAction* action;
        const char* hint;
    } links[] = {{box.SpeedButton1, box.BrowseHomePage, "Browse Home Page"},
                 {box.SpeedButton2, box.BrowseSupport, "Get Support"}};
    for (const auto& link : links) {
        EXPECT_EQ(link.button->defaultAction(), link.action);
        EXPECT_EQ(link.button->text(), link.action->text());
        EXPECT_EQ(link.button->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_TRUE(link.button->autoRaise());
        EXPECT_EQ(link.action->toolTip(), link.hint);
        EXPECT_TRUE(box.ActionManagerAbout->actions().contains(link.action));
    }
    EXPECT_EQ(box.BrowseHomePage->text(), kHomePageCaption);
    EXPECT_EQ(box.BrowseSupport->text(), "click here to get support online");
}

TEST_F(AboutBoxTest, LinksOpenTheMakersPagesThroughTheDesktop) {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "Open");
    {
        TAboutBox box(nullptr);
        box.SpeedButton1->click();
        box.SpeedButton2->click();
    }
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(recorder.opened.size(), 2);
    EXPECT_EQ(recorder.opened[0], QUrl(kHomePageURL));
    EXPECT_EQ(recorder.opened[1], QUrl(kSupportURL));
}

TEST_F(AboutBoxTest, OpensInGermanAfterASwitch) {
    GlobalLanguage().SetLCID(1031);
    xml::Document german;
    german.LoadFromFile("languages/0407/language.xml");
    const xml::Node form = german.DocumentElement().ChildByName("form").ChildByName("AboutBox");
    auto text = [&](const char* child, const char* attribute) {
        return QString::fromStdString(form.ChildByName(child).Attribute(attribute).value_or("?"));
    };

    TAboutBox box(nullptr);
    EXPECT_EQ(box.windowTitle(), QString::fromStdString(form.Attribute("Caption").value_or("?")));
    EXPECT_EQ(box.Label2->text(), text("Label2", "Caption"));
    EXPECT_EQ(box.Label3->text(), text("Label3", "Caption"));
    EXPECT_NE(box.Label3->text(), "Home Page");
    EXPECT_EQ(box.BrowseSupport->text(), text("BrowseSupport", "Caption"));
    EXPECT_EQ(box.BrowseHomePage->toolTip(), text("BrowseHomePage", "Hint"));
    // The address itself is the same in every language.
    EXPECT_EQ(box.BrowseHomePage->text(), kHomePageCaption);
}

// Support starts with "where are your files?": the box names the working
// directory, the program's home, in a way that can be selected and copied.
TEST_F(AboutBoxTest, ShowsTheHomeFolderInEveryLanguage) {
    for (const int lcid : {1033, 1031}) {
        SCOPED_TRACE(lcid);
        GlobalLanguage().SetLCID(lcid);
        TAboutBox box(nullptr);
        EXPECT_EQ(box.HomeFolder->text(), QDir::toNativeSeparators(QDir::currentPath()));
        EXPECT_EQ(QDir(box.HomeFolder->text()).canonicalPath(),
                  QString::fromStdString(std::filesystem::canonical(home_->Dir()).string()));
        EXPECT_TRUE(box.HomeFolder->textInteractionFlags() & Qt::TextSelectableByMouse);
        EXPECT_FALSE(box.Label5->text().isEmpty());
        if (lcid == 1031) {
            EXPECT_NE(box.Label5->text(), "Home folder");
        }
    }
}

#include "AboutBoxTest.moc"
