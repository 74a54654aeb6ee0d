#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QWidget>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Format.h"
#include "QtLocale.h"
#include "TempFolder.h"
#include "uvxLanguage.h"

namespace fs = std::filesystem;

// Readable failure messages for Qt texts.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

using testsupport::TempFolder;

void WriteFile(const fs::path& fileName, const std::string& text) {
    fs::create_directories(fileName.parent_path());
    std::ofstream out(fileName, std::ios::binary);
    out << text;
}

// A language file whose texts say which language they come from.
std::string LanguageFile(const std::string& tag) {
    return "<language><form>"
           "<FormTest Caption=\"" +
           tag +
           " window\"/>"
           "</form><message>"
           "<Hello>" +
           tag +
           " hello</Hello>"
           "<UpdatedTitles>%s: %d " +
           tag +
           "</UpdatedTitles>"
           "<DeleteConfirm>" +
           tag +
           " delete %s?</DeleteConfirm>"
           "<Marked>a <b>bold</b> slip</Marked>"
           "</message></language>";
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : FName(name) {
        if (const char* old = std::getenv(name)) FOld = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (FOld)
            setenv(FName, FOld->c_str(), 1);
        else
            unsetenv(FName);
    }

private:
    const char* FName;
    std::optional<std::string> FOld;
};

std::vector<std::uint32_t> ScannedLCIDs(const TvxLanguage& language) {
    std::vector<std::uint32_t> lcids;
    for (int i = 0; i < language.Count(); ++i) lcids.push_back(language.Item(i).LCID());
    return lcids;
}

// A languages folder with the given language folders, each with a
// language.xml, plus the clutter a real folder collects.
class LanguageFolderTest : public testing::Test {
protected:
    void Install(const std::vector<std::string>& folders) {
        for (const std::string& name : folders) WriteFile(root / name / "language.xml", LanguageFile(name));
        WriteFile(root / "Template.xml", LanguageFile("template"));
        WriteFile(root / "0410.txt", "not a language");
        fs::create_directories(root / "notes");
        fs::create_directories(root / "0409.old");
    }

    TempFolder temp;
    fs::path root = fs::path(temp.Path()) / "languages";
    TvxLanguage language;
};

TEST_F(LanguageFolderTest, ScanFindsLanguageFoldersOnly) {
    Install({"0409", "0407"});
    language.Scan(root.string());
    EXPECT_EQ(ScannedLCIDs(language), (std::vector<std::uint32_t>{1031, 1033}));
    EXPECT_EQ(language.Folder(), root.string() + "/");
    EXPECT_EQ(language.Item(0).GetFolder(), root.string() + "/0407/");
    EXPECT_EQ(language.Item(1).GetLanguageFile(), root.string() + "/0409/language.xml");
    EXPECT_EQ(language.Item(1).Index(), 1);

    // Scanning again replaces the list instead of doubling it.
    language.Scan(root.string() + "/");
    EXPECT_EQ(ScannedLCIDs(language), (std::vector<std::uint32_t>{1031, 1033}));
}

TEST_F(LanguageFolderTest, UnreadableFolderLeavesTheCatalogueEmpty) {
    language.Scan((root / "missing").string());
    EXPECT_EQ(language.Count(), 0);
    try {
        language.SetLCID(1033);
        FAIL() << "SetLCID without languages must fail";
    } catch (const TLanguageError& error) {
        EXPECT_NE(std::string(error.what()).find("No language is installed"), std::string::npos);
    }
    EXPECT_EQ(language.GetLCID(), 0u);
}

TEST_F(LanguageFolderTest, SetLCIDFallsBackToEnglishThenToTheFirst) {
    const struct {
        std::vector<std::string> installed;
        std::uint32_t asked;
        std::uint32_t expected;
    } cases[] = {
        {{"0407", "0409"}, 1031, 1031}, {{"0407", "0409"}, 1033, 1033},
        {{"0407", "0409"}, 1036, 1033},  // French missing: English
        {{"0410", "0407"}, 1036, 1031},  // no English either: the first found
        {{"040c"}, 1036, 1036},          // lower-case folder names load too
    };
    for (const auto& c : cases) {
        TempFolder folder;
        for (const std::string& name : c.installed)
            WriteFile(fs::path(folder.Path()) / name / "language.xml", LanguageFile(name));
        TvxLanguage catalogue;
        catalogue.Scan(folder.Path());
        catalogue.SetLCID(c.asked);
        EXPECT_EQ(catalogue.GetLCID(), c.expected) << c.asked;
        EXPECT_EQ(catalogue.Current()->LCID(), c.expected);
    }
}

TEST_F(LanguageFolderTest, DefaultLocaleSelectsTheUsersLanguage) {
    Install({"0407", "0409"});
    language.Scan(root.string());
    ScopedEnv lcAll("LC_ALL", nullptr);
    ScopedEnv lcMessages("LC_MESSAGES", nullptr);
    const struct {
        const char* lang;
        std::uint32_t expected;
    } cases[] = {
        {"de_DE.UTF-8", 1031},
        {"de_AT.UTF-8", 1031},  // Austrian German is served by German
        {"fr_FR.UTF-8", 1033},  // not installed: English
        {"en_US.UTF-8", 1033},
    };
    for (const auto& c : cases) {
        ScopedEnv lang("LANG", c.lang);
        language.SetLCID(1024);
        EXPECT_EQ(language.GetLCID(), c.expected) << c.lang;
        language.SetLCID(2048);
        EXPECT_EQ(language.GetLCID(), c.expected) << c.lang;
    }
}

TEST_F(LanguageFolderTest, MessagesAndFiles) {
    Install({"0407", "0409"});
    language.Scan(root.string());
    // Nothing selected yet: no texts, and no folder to name files in.
    EXPECT_EQ(language.GetMsg("Hello"), "");
    EXPECT_THROW(language.GetFileName("struct.xml"), TLanguageError);

    language.SetLCID(1033);
    EXPECT_EQ(language.GetMsg("Hello"), "0409 hello");
    EXPECT_EQ(language.GetMsg("NoSuchMessage"), "");
    EXPECT_EQ(language.GetMsg("Marked"), "");
    EXPECT_EQ(language.GetMsg(""), "");
    EXPECT_EQ(language.FormatMsg("UpdatedTitles", {"Daily", 3}), "Daily: 3 0409");
    // A status message built from a missing message is empty, arguments or
    // not.
    EXPECT_EQ(language.FormatMsg("NoSuchMessage", {"News"}), "");
    EXPECT_THROW(language.FormatMsg("UpdatedTitles", {"Daily", "three"}), plat::FormatError);
    // Where the window shows a text, a missing one gives way to its English.
    EXPECT_EQ(LangTextQ("NoSuchMessage", {"News"}, "Fallback"), QStringLiteral("Fallback"));
    EXPECT_EQ(language.GetFileName("struct.xml"), root.string() + "/0409/struct.xml");

    language.SetLCID(1031);
    EXPECT_EQ(language.GetMsg("Hello"), "0407 hello");
    EXPECT_EQ(language.GetFileName("struct.xml"), root.string() + "/0407/struct.xml");
}

TEST_F(LanguageFolderTest, UnreadableLanguageKeepsThePreviousOne) {
    Install({"0409"});
    fs::create_directories(root / "0407");  // no language.xml inside
    WriteFile(root / "0410" / "language.xml", "<language><message>");
    language.Scan(root.string());
    language.SetLCID(1033);

    for (const std::uint32_t broken : {1031u, 1040u}) {
        try {
            language.Select(*language.FindLCID(broken));
            FAIL() << "a language without a readable file must not load";
        } catch (const xml::XmlError& error) {
            EXPECT_NE(std::string(error.what()).find("language.xml"), std::string::npos) << error.what();
        }
        EXPECT_EQ(language.GetLCID(), 1033u);
        EXPECT_EQ(language.GetMsg("Hello"), "0409 hello");
    }
}

TEST_F(LanguageFolderTest, OnChangeRunsAfterEverySelection) {
    Install({"0407", "0409"});
    language.Scan(root.string());
    std::vector<std::pair<std::uint32_t, std::string>> calls;
    language.SetOnChange([&](TvxLanguage& changed) { calls.emplace_back(changed.GetLCID(), changed.GetMsg("Hello")); });
    language.SetLCID(1033);
    language.SetLCID(1031);
    EXPECT_EQ(calls, (std::vector<std::pair<std::uint32_t, std::string>>{{1033, "0409 hello"}, {1031, "0407 hello"}}));
}

TEST_F(LanguageFolderTest, MenuListsLanguagesAndFollowsTheSelection) {
    Install({"0407", "0409"});
    language.Scan(root.string());
    QWidget window;
    window.setObjectName("FormTest");
    auto* menu = new QMenu(&window);
    menu->setObjectName("LanguageMenu");
    language.BuildMenu(menu, TvxLanguageInfo::kLocaleNativeLanguageName);
    language.SetOnChange([&](TvxLanguage& changed) { changed.Translate(&window); });

    const QList<QAction*> entries = menu->actions();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0]->text(), "Deutsch");
    EXPECT_EQ(entries[1]->text(), "English");
    EXPECT_EQ(entries[0]->text(), plat::NativeLanguageName(1031));
    for (QAction* entry : entries) {
        EXPECT_TRUE(entry->isCheckable());
        ASSERT_NE(entry->actionGroup(), nullptr);
        EXPECT_TRUE(entry->actionGroup()->isExclusive());
    }

    language.SetLCID(1033);
    EXPECT_TRUE(entries[1]->isChecked());
    EXPECT_FALSE(entries[0]->isChecked());
    EXPECT_EQ(window.windowTitle(), "0409 window");

    entries[0]->trigger();  // the user picks Deutsch
    EXPECT_EQ(language.GetLCID(), 1031u);
    EXPECT_TRUE(entries[0]->isChecked());
    EXPECT_FALSE(entries[1]->isChecked());
    EXPECT_EQ(window.windowTitle(), "0407 window");

    // Other senders are not ours to handle.
    QAction stranger;
    stranger.setData(1);
    language.MenuItemClick(&stranger);
    language.MenuItemClick(nullptr);
    EXPECT_EQ(language.GetLCID(), 1031u);

    // Building again replaces the entries rather than adding more, and
    // marks the language in use.
    language.BuildMenu(menu, TvxLanguageInfo::kLocaleNativeLanguageName);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_TRUE(menu->actions()[0]->isChecked());
}

TEST_F(LanguageFolderTest, FailedMenuSelectionKeepsTheMarkOnTheLanguageInUse) {
    Install({"0409"});
    fs::create_directories(root / "0407");  // listed, but without a file
    language.Scan(root.string());
    QMenu menu;
    language.BuildMenu(&menu, TvxLanguageInfo::kLocaleNativeLanguageName);
    language.SetLCID(1033);

    QAction* german = menu.actions()[0];
    german->setChecked(true);  // what the radio group does on a click
    EXPECT_THROW(language.MenuItemClick(german), xml::XmlError);
    EXPECT_EQ(language.GetLCID(), 1033u);
    EXPECT_TRUE(menu.actions()[1]->isChecked());
    EXPECT_FALSE(german->isChecked());
}

TEST_F(LanguageFolderTest, MessagesStayReadableWhileTheLanguageChanges) {
    Install({"0407", "0409"});
    language.Scan(root.string());
    language.SetLCID(1033);
    std::atomic<bool> stop = false;
    std::atomic<int> bad = 0;
    std::thread reader([&] {
        while (!stop) {
            const std::string text = language.FormatMsg("DeleteConfirm", {"x"});
            if (text != "0409 delete x?" && text != "0407 delete x?") ++bad;
        }
    });
    for (int i = 0; i < 50; ++i) language.SetLCID(i % 2 ? 1033 : 1031);
    stop = true;
    reader.join();
    EXPECT_EQ(bad, 0);
}

TEST(LanguageInfo, FolderNames) {
    TvxLanguage catalogue;
    TvxLanguageInfo info(catalogue, 0);
    const struct {
        const char* name;
        std::optional<std::uint32_t> lcid;
    } cases[] = {
        {"0409", 1033},
        {"0407", 1031},
        {"040c", 1036},
        {"040C", 1036},
        {"10407", 0x10407},
        {"Template", std::nullopt},
        {"", std::nullopt},
        {"04 09", std::nullopt},
        {"-409", std::nullopt},
        {"0x409", std::nullopt},
        {"123456789", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TvxLanguageInfo::TryParseFolderName(c.name), c.lcid) << c.name;
        if (c.lcid) {
            info.ParseFolderName(c.name);
            EXPECT_EQ(info.LCID(), *c.lcid);
        } else {
            EXPECT_THROW(info.ParseFolderName(c.name), std::runtime_error) << c.name;
        }
    }
    EXPECT_EQ(TvxLanguageInfo::FolderName(1033), "0409");
    EXPECT_EQ(TvxLanguageInfo::FolderName(0x10407), "10407");
    info.SetLCID(1031);
    EXPECT_EQ(info.GetFolder(), "0407/");  // an unscanned catalogue has no folder
    EXPECT_EQ(info.GetLocaleText(TvxLanguageInfo::kLocaleNativeLanguageName), "Deutsch");
    EXPECT_EQ(info.GetLocaleText(TvxLanguageInfo::kLocaleEnglishLanguageName), "German");
    EXPECT_EQ(info.GetLocaleText(12345), "");
}

// A window shaped like Quillet's: components nested in unnamed containers,
// a named group box, actions and menus owned by the window, and a dialog it
// owns with components of its own.
class TranslateTest : public testing::Test {
protected:
    TranslateTest() {
        window.setObjectName("FormTest");
        window.setWindowTitle("built-in");
        window.setMinimumWidth(100);

        auto* container = new QWidget(&window);
        label = new QLabel("Label", container);
        label->setObjectName("Label1");
        group = new QGroupBox("Group", &window);
        group->setObjectName("GroupBox1");
        button = new QPushButton("Button", group);
        button->setObjectName("OKBtn");
        edit = new QLineEdit(&window);
        edit->setObjectName("EditURL");
        action = new QAction("Delete", &window);
        action->setObjectName("ActionDeleteFeed");
        auto* bar = new QMenuBar(&window);
        menu = bar->addMenu("File");
        menu->setObjectName("File1");

        dialog = new QDialog(&window);
        dialog->setObjectName("FormOther");
        dialogLabel = new QLabel("Dialog label", dialog);
        dialogLabel->setObjectName("Label2");
    }

    // A language document with the messages the tests refer to.
    void LoadLanguage(const std::string& forms) {
        WriteFile(fs::path(temp.Path()) / "languages" / "0409" / "language.xml",
                  "<language><form>" + forms +
                      "</form><message><DeleteConfirm>Delete %s?</DeleteConfirm></message></language>");
        language.Scan(temp.Path() + "/languages");
        language.SetLCID(1033);
    }

    TempFolder temp;
    TvxLanguage language;
    QWidget window;
    QLabel* label;
    QGroupBox* group;
    QPushButton* button;
    QLineEdit* edit;
    QAction* action;
    QMenu* menu;
    QDialog* dialog;
    QLabel* dialogLabel;
};

TEST_F(TranslateTest, SetsStringPropertiesOfTheWindowAndWhatItOwns) {
    LoadLanguage(R"(<FormTest Caption="Title" Hint="Window hint" minimumWidth="500" Colour="red">
          <Label1 Caption="Label text" objectName="Renamed"/>
          <GroupBox1 Caption="Group title"/>
          <OKBtn Caption="&amp;OK"/>
          <EditURL placeholderText="https://" Caption="ignored"/>
          <ActionDeleteFeed Caption="&amp;Delete Feed" Hint="Delete the selected feed"/>
          <File1 Caption="&amp;File"/>
          <Label2 Caption="not mine"/>
          <NoSuchComponent Caption="nobody"/>
        </FormTest>)");
    language.Translate(&window);

    EXPECT_EQ(window.windowTitle(), "Title");
    EXPECT_EQ(window.toolTip(), "Window hint");
    EXPECT_EQ(window.minimumWidth(), 100);  // not a string property
    EXPECT_EQ(label->text(), "Label text");
    EXPECT_EQ(label->objectName(), "Label1");
    EXPECT_EQ(group->title(), "Group title");
    EXPECT_EQ(button->text(), "&OK");
    EXPECT_EQ(edit->placeholderText(), "https://");
    EXPECT_EQ(edit->text(), "ignored");  // a line edit's Caption is its text
    EXPECT_EQ(action->text(), "&Delete Feed");
    EXPECT_EQ(action->toolTip(), "Delete the selected feed");
    EXPECT_EQ(action->statusTip(), "Delete the selected feed");
    EXPECT_EQ(menu->title(), "&File");
    // The dialog the window owns translates itself from its own entry.
    EXPECT_EQ(dialogLabel->text(), "Dialog label");
}

TEST_F(TranslateTest, ResolvesMessageReferences) {
    LoadLanguage(R"(<FormTest><ActionDeleteFeed Caption="@DeleteConfirm" Hint="@NoSuchMessage"/></FormTest>)");
    language.Translate(&window);
    EXPECT_EQ(action->text(), "Delete %s?");
    EXPECT_EQ(action->statusTip(), "");  // a missing message is the empty text

    // Translating again (the reference now replaced in the loaded document)
    // gives the same texts.
    action->setText("changed");
    language.Translate(&window);
    EXPECT_EQ(action->text(), "Delete %s?");
}

TEST_F(TranslateTest, ExplicitElementAndWindowsWithoutAnEntry) {
    LoadLanguage(R"(<FormOther Caption="Other"/>)");
    // No entry for FormTest: its built-in texts stay.
    language.Translate(&window);
    EXPECT_EQ(window.windowTitle(), "built-in");
    language.Translate(dialog);
    EXPECT_EQ(dialog->windowTitle(), "Other");

    // An element given by the caller is used as it is.
    xml::Document texts;
    texts.LoadFromString(R"(<FormTest Caption="Given"><Label1 Caption="Given label"/></FormTest>)");
    language.Translate(&window, texts.DocumentElement());
    EXPECT_EQ(window.windowTitle(), "Given");
    EXPECT_EQ(label->text(), "Given label");

    // Nameless components and null pointers are left alone.
    QWidget nameless;
    nameless.setWindowTitle("nameless");
    language.Translate(&nameless);
    language.Translate(nullptr);
    EXPECT_EQ(nameless.windowTitle(), "nameless");
}

}  // namespace
