// Start-up, language switching, window geometry and shutdown of the main
// window, each test in its own staged working directory.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "AppTestSupport.h"
#include "XmlDom.h"
#include "NotifyController.h"
#include "fMain.h"

namespace {

using apptest::TStagedHome;

std::string ConfigValue(TFormMain& form, const char* path) { return form.Options().GetConfigNode(path).Text(); }

// The element at a backslash-separated path below the document element;
// a null node when one is missing and `create` is false.
xml::Node NodeAtPath(xml::Document& doc, const char* path, bool create) {
    xml::Node node = doc.DocumentElement();
    std::string rest = path;
    while (!rest.empty() && !node.IsNull()) {
        const auto cut = rest.find('\\');
        const std::string name = rest.substr(0, cut);
        node = create ? node.ChildByNameOrCreate(name) : node.ChildByName(name);
        rest = cut == std::string::npos ? "" : rest.substr(cut + 1);
    }
    return node;
}

// The value as config.xml on disk holds it.
std::string StoredValue(const char* path) {
    xml::Document doc;
    doc.LoadFromFile("config.xml");
    const xml::Node node = NodeAtPath(doc, path, false);
    return node.IsNull() ? "<absent>" : node.Text();
}

void SetStoredValue(const char* path, const std::string& value) {
    xml::Document doc;
    doc.LoadFromFile("config.xml");
    NodeAtPath(doc, path, true).SetText(value);
    doc.Save();
}

QAction* LanguageEntry(TFormMain& form, const QString& caption) {
    for (QAction* action : form.LanguageMenu->actions())
        if (action->text() == caption) return action;
    return nullptr;
}

void CloseAndDestroy(std::unique_ptr<TFormMain>& form) {
    form->close();
    form.reset();
}

class MainWindowTest : public ::testing::Test {
protected:
    TStagedHome home;
};

TEST_F(MainWindowTest, StartsTranslatedWithOneMenuEntryPerLanguageAndEnglishChecked) {
    auto form = std::make_unique<TFormMain>();
    EXPECT_EQ(form->objectName(), "FormMain");
    EXPECT_EQ(form->Actions().AddFeed->text(), "&Add Feed...");
    EXPECT_EQ(form->FileMenu->title(), "&File");

    QStringList captions;
    for (QAction* action : form->LanguageMenu->actions()) captions << action->text();
    EXPECT_EQ(captions.size(), 2);
    ASSERT_NE(LanguageEntry(*form, "English"), nullptr);
    ASSERT_NE(LanguageEntry(*form, "Deutsch"), nullptr);
    EXPECT_TRUE(LanguageEntry(*form, "English")->isChecked());
    EXPECT_FALSE(LanguageEntry(*form, "Deutsch")->isChecked());
    EXPECT_EQ(ConfigValue(*form, "internal\\language"), "1033");
}

TEST_F(MainWindowTest, SwitchingToGermanRetranslatesReloadsStructureAndStoresTheLanguage) {
    auto form = std::make_unique<TFormMain>();
    LanguageEntry(*form, "Deutsch")->trigger();

    EXPECT_EQ(form->Actions().AddFeed->text(), QString::fromUtf8("Feed &hinzufügen..."));
    EXPECT_EQ(form->Actions().DeleteFeed->text(), QString::fromUtf8("Feed &löschen"));
    EXPECT_EQ(form->FileMenu->title(), "&Datei");
    EXPECT_EQ(form->LanguageMenu->title(), "&Sprache");
    EXPECT_TRUE(LanguageEntry(*form, "Deutsch")->isChecked());
    EXPECT_FALSE(LanguageEntry(*form, "English")->isChecked());
    EXPECT_EQ(ConfigValue(*form, "internal\\language"), "1031");
    EXPECT_NE(form->Options().StructDocument().FileName().find("0407"), std::string::npos);
    // What a screen reader calls the unlabelled controls follows too.
    for (const auto& [name, expected] : {std::pair{"FeedFilter", "Feeds filtern"},
                                         {"LightPane", "Feed-Seite"},
                                         {"WebBrowser", "Lesebereich"},
                                         {"StatusBar", "Status"}}) {
        const auto* widget = form->findChild<QWidget*>(QString::fromUtf8(name));
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(widget->accessibleName().toStdString(), expected) << name;
    }

    CloseAndDestroy(form);
    EXPECT_EQ(StoredValue("internal\\language"), "1031");

    // The next start comes up in German.
    form = std::make_unique<TFormMain>();
    EXPECT_EQ(form->FileMenu->title(), "&Datei");
    EXPECT_TRUE(LanguageEntry(*form, "Deutsch")->isChecked());
}

TEST_F(MainWindowTest, StoredLanguageThatIsNotInstalledFallsBackToEnglishAndIsWrittenBack) {
    const struct {
        std::string stored;
        std::string selected;
    } cases[] = {
        {"1036", "1033"},  // French: no folder
        {"abc", "1033"},   // not a number
        {"", "1033"},      // empty
        {"1031", "1031"},  // installed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("stored language '" + c.stored + "'");
        SetStoredValue("internal\\language", c.stored);
        auto form = std::make_unique<TFormMain>();
        EXPECT_EQ(ConfigValue(*form, "internal\\language"), c.selected);
        CloseAndDestroy(form);
        EXPECT_EQ(StoredValue("internal\\language"), c.selected);
    }
}

TEST_F(MainWindowTest, AStoredLanguageWithADamagedFileStartsInEnglish) {
    home.WriteFile("languages/0407/language.xml", "<language><form>");
    SetStoredValue("internal\\language", "1031");
    auto form = std::make_unique<TFormMain>();
    EXPECT_EQ(form->FileMenu->title(), "&File");
    EXPECT_EQ(ConfigValue(*form, "internal\\language"), "1033");
    EXPECT_NE(form->StatusText(0).indexOf("language.xml"), -1) << form->StatusText(0).toStdString();
}

TEST_F(MainWindowTest, ClosingMaximisedStoresWidthZeroAndTheNextStartIsMaximised) {
    auto form = std::make_unique<TFormMain>();
    form->ShowAtStartup();
    form->showMaximized();
    QApplication::processEvents();
    ASSERT_TRUE(form->isMaximized());
    CloseAndDestroy(form);
    EXPECT_EQ(StoredValue("internal\\mainform\\Width"), "0");

    // The stored height does not matter for a maximised start.
    SetStoredValue("internal\\mainform\\Height", "oops");
    form = std::make_unique<TFormMain>();
    form->ShowAtStartup();
    QApplication::processEvents();
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
}

TEST_F(MainWindowTest, ClosingNormalStoresSizeAndTreeWidthAndTheNextStartRestoresThem) {
    auto form = std::make_unique<TFormMain>();
    form->ShowAtStartup();
    form->resize(700, 500);
    QApplication::processEvents();
    form->SplitterV->setSizes({250, form->SplitterV->width() - 250});
    QApplication::processEvents();
    ASSERT_EQ(form->Tree().width(), 250);
    CloseAndDestroy(form);

    EXPECT_EQ(StoredValue("internal\\mainform\\Width"), "700");
    EXPECT_EQ(StoredValue("internal\\mainform\\Height"), "500");
    EXPECT_EQ(StoredValue("internal\\mainform\\TreeViewWidth"), "250");

    form = std::make_unique<TFormMain>();
    form->ShowAtStartup();
    QApplication::processEvents();
    EXPECT_FALSE(form->isMaximized());
    EXPECT_EQ(form->width(), 700);
    EXPECT_EQ(form->height(), 500);
    EXPECT_EQ(form->Tree().width(), 250);
    EXPECT_EQ(form->StatusPanel0->width(), 250);

    // Dragging the splitter keeps panel 0 as wide as the tree.
    form->SplitterV->setSizes({180, form->SplitterV->width() - 180});
    QApplication::processEvents();
    EXPECT_EQ(form->Tree().width(), 180);
    EXPECT_EQ(form->StatusPanel0->width(), 180);
}

TEST_F(MainWindowTest, MissingOrGarbledGeometryStartsWithTheDefaultWindow) {
    const struct {
        std::string width, height, tree;
    } cases[] = {
        {"", "", ""},
        {"wide", "tall", "narrow"},
        {"-5", "500", "-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("width '" + c.width + "' height '" + c.height + "' tree '" + c.tree + "'");
        SetStoredValue("internal\\mainform\\Width", c.width);
        SetStoredValue("internal\\mainform\\Height", c.height);
        SetStoredValue("internal\\mainform\\TreeViewWidth", c.tree);
        auto form = std::make_unique<TFormMain>();
        form->ShowAtStartup();
        QApplication::processEvents();
        EXPECT_FALSE(form->isMaximized());
        // At least as wide as the toolbar wants.
        EXPECT_EQ(form->width(), std::max(653, form->ToolBar->sizeHint().width()));
        EXPECT_EQ(form->height(), 540);
        EXPECT_EQ(form->Tree().width(), 200);
        EXPECT_EQ(form->StatusPanel0->width(), 200);
        form.reset();
    }
}

TEST_F(MainWindowTest, AMissingConfigurationIsMadeFromTheDeliveredDefault) {
    std::filesystem::remove("config.xml");
    auto form = std::make_unique<TFormMain>();
    EXPECT_TRUE(std::filesystem::exists("config.xml"));
    EXPECT_EQ(ConfigValue(*form, "internal\\feedlist\\autoincrement\\id"), "1");
}

TEST_F(MainWindowTest, AMalformedConfigurationStopsStartUpAndIsNeverOverwritten) {
    const std::string broken = "<config><general><UpdateInterval>60</general></config>";
    home.WriteFile("config.xml", broken);
    try {
        TFormMain form;
        FAIL() << "start-up went on with a malformed config.xml";
    } catch (const std::exception& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("config.xml"), std::string::npos) << message;
    }
    EXPECT_EQ(home.ReadFile("config.xml"), broken);
}

TEST_F(MainWindowTest, NoInstalledLanguageStopsStartUp) {
    std::filesystem::remove_all("languages");
    std::filesystem::create_directory("languages");
    EXPECT_THROW(TFormMain form, std::exception);
    // A failed start never touches the configuration.
    EXPECT_EQ(home.ReadFile("config.xml"), home.ReadFile("config.default.xml"));
}

TEST_F(MainWindowTest, EveryComponentIsANamedChildOfTheWindow) {
    TFormMain form;
    for (const char* name : {"MainMenu",
                             "File1",
                             "Feed1",
                             "LanguageMenu",
                             "Help1",
                             "PopupMenuFeedList",
                             "PopupMenuTrayIcon",
                             "ToolBar",
                             "SplitterV",
                             "StatusBar",
                             "ActionAddFeed",
                             "ActionDeleteFeed",
                             "ActionEditFeed",
                             "ActionUpdateFeed",
                             "ActionCopyURL",
                             "ActionShowQuillet",
                             "ActionHideQuillet",
                             "ActionOptions",
                             "ActionExit",
                             "ActionHelp",
                             "ActionAbout",
                             "ActionHomePage",
                             "ActionSupport",
                             "ActionImportOPML",
                             "ActionExportOPML",
                             "ActionNotifyFeed"}) {
        EXPECT_NE(form.findChild<QObject*>(name, Qt::FindDirectChildrenOnly), nullptr) << name;
    }
    EXPECT_NE(form.findChild<QObject*>("TreeView"), nullptr);
    EXPECT_NE(form.findChild<QObject*>("WebBrowser"), nullptr);
    EXPECT_FALSE(form.Actions().ShowQuillet->isVisible());
    EXPECT_TRUE(form.Actions().HideQuillet->isVisible());
    // The feed actions first, as they always were; the folder actions after.
    const QList<QAction*> popup = form.PopupMenuFeedList->actions();
    EXPECT_EQ(popup.mid(0, 5),
              (QList<QAction*>{form.Actions().AddFeed, form.Actions().DeleteFeed, form.Actions().EditFeed,
                               form.Actions().UpdateFeed, form.Actions().CopyURL}));
    EXPECT_TRUE(popup.contains(apptest::Notify(form).Action()));
    EXPECT_TRUE(popup.contains(form.Actions().NewFolder));
    EXPECT_TRUE(popup.contains(form.MenuMoveTo->menuAction()));
}

}  // namespace

namespace {

TEST_F(MainWindowTest, StartTrayIconStartsMinimised) {
    SetStoredValue("general\\StartTrayIcon", "True");
    TFormMain form;
    form.ShowAtStartup();
    QApplication::processEvents();
    // Hidden to the tray where the desktop has one, minimised where not.
    EXPECT_TRUE(form.isMinimized() || !form.isVisible());
}

TEST_F(MainWindowTest, ExitClosesTheWindowStoresItsStateAndEndsTheProgram) {
    auto form = std::make_unique<TFormMain>();
    form->ShowAtStartup();
    form->resize(720, 480);
    QApplication::processEvents();
    int closedSignals = 0;
    QObject::connect(form.get(), &TFormMain::formClosed, [&] { ++closedSignals; });

    form->Actions().Exit->trigger();
    EXPECT_EQ(closedSignals, 1);
    EXPECT_FALSE(form->isVisible());
    // Nothing is written before the option store goes.
    EXPECT_EQ(StoredValue("internal\\mainform\\Width"), "653");
    form.reset();
    EXPECT_EQ(StoredValue("internal\\mainform\\Width"), "720");
    EXPECT_EQ(StoredValue("internal\\mainform\\Height"), "480");
}

}  // namespace
