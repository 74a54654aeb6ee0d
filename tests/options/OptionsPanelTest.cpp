// The option panel built offscreen from small struct.xml / config.xml pairs.
#include "OptionsPanel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTreeWidget>

#include "Options.h"
#include "XmlDom.h"

namespace fs = std::filesystem;

namespace {

void EnsureApplication() {
    if (QApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "options_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

class OptionsPanelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }

    void SetUp() override {
        char pattern[] = "/tmp/quillet-panel-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        FDir = pattern;
    }
    void TearDown() override {
        FPanel.reset();
        FOptions.reset();
        std::error_code ignored;
        fs::remove_all(FDir, ignored);
    }

    // Loads a store from the two texts and builds a panel on it.
    TOptionsPanel& Build(const std::string& structXml, const std::string& configXml) {
        Load(structXml, configXml);
        FPanel = std::make_unique<TOptionsPanel>();
        FPanel->SetOptions(FOptions.get());
        return *FPanel;
    }
    void Load(const std::string& structXml, const std::string& configXml) {
        // The previous store saves its modified configuration as it goes, so
        // it must go before the new files are written.
        FPanel.reset();
        FOptions.reset();
        Write("struct.xml", structXml);
        Write("config.xml", configXml);
        FOptions = std::make_unique<TOptions>();
        FOptions->Load(Path("struct.xml"), Path("config.xml"));
    }
    void Write(const std::string& name, const std::string& text) { std::ofstream(Path(name)) << text; }
    std::string Path(const std::string& name) const { return (FDir / name).string(); }

    std::string Config(std::string_view path) { return FOptions->GetConfigNode(path).Text(); }
    // config.xml as it is on disk now.
    std::string SavedConfig(std::string_view path) {
        TOptions reread;
        reread.Load(Path("struct.xml"), Path("config.xml"));
        return reread.GetConfigNode(path).Text();
    }

    template <typename T>
    T* Find(const char* name) {
        return FPanel->findChild<T*>(QString::fromLatin1(name));
    }
    TOptionsPage* Page(const char* name) { return Find<TOptionsPage>(name); }
    const TOptionsControl& Row(const char* page, std::size_t index) { return *Page(page)->Rows().at(index); }

    fs::path FDir;
    std::unique_ptr<TOptions> FOptions;
    std::unique_ptr<TOptionsPanel> FPanel;
};

const char* const kTreeStruct = R"(<options>
  <net type="folder" caption="Network">
    <proxy type="page" caption="Proxy"><Host caption="Host"/></proxy>
    <timeouts type="page" caption="Time-outs"><Seconds caption="Seconds"/></timeouts>
  </net>
  <internal type="internal"><hidden type="page" caption="Hidden"/></internal>
  <about type="info" caption="About"/>
  <untyped caption="Untyped"/>
</options>)";

}  // namespace

TEST_F(OptionsPanelTest, OptionTypesAreLookedUpIgnoringCase) {
    const struct {
        const char* type;
        int index;
    } cases[] = {
        {"string", okString},
        {"CHOICE", okChoice},
        {"Password", okPassword},
        {"gRoUp", okGroup},
        {"bool", okBool},
        {"boolean", -1},
        {"", -1},
        {"int", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(OptionTypeIndex(c.type), c.index) << c.type;
    EXPECT_EQ(OptionTypes(), (std::vector<std::string>{"string", "choice", "password", "group", "bool"}));
}

TEST_F(OptionsPanelTest, TreeHoldsFoldersAndPagesAndSkipsInternal) {
    TOptionsPanel& panel = Build(kTreeStruct, "<config/>");
    QTreeWidget* tree = panel.OptionsTreeView();
    ASSERT_EQ(tree->objectName(), "OptionsTreeView");
    ASSERT_EQ(panel.OptionsNoteBook()->objectName(), "OptionsNoteBook");

    // The folder, the entry of an unknown type and the untyped one; nothing
    // of the internal subtree.
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    QTreeWidgetItem* folder = tree->topLevelItem(0);
    EXPECT_EQ(folder->text(0), "Network");
    EXPECT_EQ(tree->topLevelItem(1)->text(0), "About");
    EXPECT_EQ(tree->topLevelItem(2)->text(0), "Untyped");
    ASSERT_EQ(folder->childCount(), 2);
    EXPECT_EQ(folder->child(0)->text(0), "Proxy");
    EXPECT_EQ(folder->child(1)->text(0), "Time-outs");
    EXPECT_TRUE(folder->isExpanded());
    EXPECT_EQ(tree->currentItem(), folder);
    EXPECT_EQ(tree->findItems("Hidden", Qt::MatchRecursive).size(), 0);

    const struct {
        QTreeWidgetItem* entry;
        int pageIndex;
    } entries[] = {{folder, -1}, {folder->child(0), 0}, {folder->child(1), 1}, {tree->topLevelItem(1), 0}};
    for (const auto& e : entries)
        EXPECT_EQ(TOptionsPanel::PageIndex(e.entry), e.pageIndex) << e.entry->text(0).toStdString();

    ASSERT_EQ(panel.OptionsNoteBook()->count(), 2);
    EXPECT_EQ(panel.Pages().size(), 2u);
    EXPECT_EQ(panel.OptionsNoteBook()->widget(0)->objectName(), "proxy");
    EXPECT_EQ(panel.OptionsNoteBook()->widget(1)->objectName(), "timeouts");
    EXPECT_NE(Page("proxyPage"), nullptr);
    EXPECT_NE(Page("timeoutsPage"), nullptr);
    EXPECT_EQ(Page("timeoutsPage")->Caption(), "Time-outs");
}

TEST_F(OptionsPanelTest, SelectingEntriesSwitchesPages) {
    TOptionsPanel& panel = Build(kTreeStruct, "<config/>");
    QTreeWidget* tree = panel.OptionsTreeView();
    QStackedWidget* book = panel.OptionsNoteBook();
    QTreeWidgetItem* folder = tree->topLevelItem(0);

    tree->setCurrentItem(folder->child(1));
    EXPECT_EQ(book->currentIndex(), 1);
    // A folder has no page of its own: the page on show stays.
    tree->setCurrentItem(folder);
    EXPECT_EQ(book->currentIndex(), 1);
    // Entries of other types show the first page.
    tree->setCurrentItem(tree->topLevelItem(1));
    EXPECT_EQ(book->currentIndex(), 0);
    tree->setCurrentItem(folder->child(1));
    tree->setCurrentItem(tree->topLevelItem(2));
    EXPECT_EQ(book->currentIndex(), 0);
}

TEST_F(OptionsPanelTest, BuildingCreatesMissingConfigElementsEmpty) {
    Build(kTreeStruct, "<config><internal><x>1</x></internal></config>");
    EXPECT_TRUE(FOptions->ConfigDocument().Modified());
    const std::string saved = FOptions->ConfigDocument().SaveToString();
    EXPECT_NE(saved.find("<Host/>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<Seconds/>"), std::string::npos) << saved;
    // Nothing is made up for the program's own values.
    EXPECT_EQ(saved.find("hidden"), std::string::npos) << saved;
    EXPECT_EQ(Config("internal\\x"), "1");
}

TEST_F(OptionsPanelTest, RowsAreLaidOutTopToBottom) {
    Build(R"(<o><general type="page" caption="General">
               <A caption="First"/><B type="password" caption="Second"/><C type="STRING" caption="Third"/>
             </general></o>)",
          "<c/>");
    TOptionsPage* page = Page("generalPage");
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(page->Rows().size(), 3u);
    const int h = Row("generalPage", 0).Height();
    ASSERT_GT(h, 0);
    for (std::size_t i = 0; i < 3; ++i) {
        const TOptionsControl& row = Row("generalPage", i);
        const int top = 30 + static_cast<int>(i) * (h + 2);
        EXPECT_EQ(row.Editor()->y(), top) << i;
        EXPECT_EQ(row.CaptionLabel()->y(), top + 3) << i;
        EXPECT_EQ(row.CaptionLabel()->x(), 20) << i;
        EXPECT_EQ(row.Editor()->x(), 120) << i;
        EXPECT_EQ(row.EditorOffset(), 100);
        EXPECT_EQ(row.Editor()->parentWidget(), page);
        EXPECT_FALSE(row.CaptionLabel()->isHidden());
        EXPECT_EQ(row.CaptionLabel()->buddy(), row.Editor()) << "the caption names its field to a screen reader";
    }
    EXPECT_EQ(Row("generalPage", 1).CaptionLabel()->objectName(), "B");
    EXPECT_EQ(Row("generalPage", 2).CaptionLabel()->text(), "Third");
    EXPECT_EQ(Row("generalPage", 2).Kind(), okString);
    EXPECT_EQ(Row("generalPage", 0).Kind(), -1);
    EXPECT_EQ(page->ContentSize().height(), 30 + 3 * (h + 2) + 30);
}

const char* const kChoiceStruct = R"(<o><general type="page" caption="General">
  <Mode type="choice" caption="Mode" default="SLOW">
    <fast caption="Fast"/><slow caption="Slow"/><off caption="Off"/>
  </Mode>
  <Free type="choice" caption="Free" custom="true" default="a"><a caption="Entry A"/><b caption="Entry B"/></Free>
  <Strict type="choice" caption="Strict" custom="TRUE"><a caption="Entry A"/></Strict>
</general></o>)";

TEST_F(OptionsPanelTest, ChoiceShowsTheStoredEntryOrNone) {
    const struct {
        const char* stored;
        int index;
    } cases[] = {{"fast", 0}, {"OFF", 2}, {"medium", -1}, {"", -1}, {"Slow ", -1}};
    for (const auto& c : cases) {
        Build(kChoiceStruct, std::string("<c><general><Mode>") + c.stored + "</Mode></general></c>");
        const TOptionsControl& row = Row("generalPage", 0);
        auto* combo = qobject_cast<QComboBox*>(row.Editor());
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(row.ChoiceNames(), (std::vector<std::string>{"fast", "slow", "off"}));
        EXPECT_EQ(combo->count(), 3);
        EXPECT_EQ(combo->itemText(1), "Slow");
        EXPECT_FALSE(combo->isEditable());
        EXPECT_EQ(combo->currentIndex(), c.index) << c.stored;
    }
    // custom must be exactly "true".
    EXPECT_TRUE(qobject_cast<QComboBox*>(Row("generalPage", 1).Editor())->isEditable());
    EXPECT_FALSE(qobject_cast<QComboBox*>(Row("generalPage", 2).Editor())->isEditable());
}

TEST_F(OptionsPanelTest, ChoiceBuiltWithItsDefaultBeforeValuesAreRead) {
    Load(kChoiceStruct, "<c/>");
    TOptionsPage page;
    page.SetStructNode(FOptions->GetStructNode("general"));
    page.SetConfigNode(FOptions->GetConfigNode("general"));
    page.BuildControls();
    EXPECT_EQ(qobject_cast<QComboBox*>(page.Rows()[0]->Editor())->currentIndex(), 1);  // default="SLOW"
    EXPECT_EQ(qobject_cast<QComboBox*>(page.Rows()[1]->Editor())->currentIndex(), 0);
    EXPECT_EQ(qobject_cast<QComboBox*>(page.Rows()[2]->Editor())->currentIndex(), -1);
}

TEST_F(OptionsPanelTest, ChoiceWithoutSelectionKeepsOrTypesItsValue) {
    TOptionsPanel& panel =
        Build(kChoiceStruct, "<c><general><Mode>medium</Mode><Free>my own</Free><Strict>a</Strict></general></c>");
    auto* mode = qobject_cast<QComboBox*>(Row("generalPage", 0).Editor());
    auto* free = qobject_cast<QComboBox*>(Row("generalPage", 1).Editor());
    // A free text stored earlier shows in the box and survives an apply.
    EXPECT_EQ(free->currentIndex(), -1);
    EXPECT_EQ(free->currentText(), "my own");
    ASSERT_NO_THROW(panel.ApplyChanges());
    EXPECT_EQ(Config("general\\Mode"), "medium");
    EXPECT_EQ(Config("general\\Free"), "my own");
    EXPECT_EQ(SavedConfig("general\\Mode"), "medium");

    mode->setCurrentIndex(2);
    free->setEditText("typed");
    panel.ApplyChanges();
    EXPECT_EQ(Config("general\\Mode"), "off");
    EXPECT_EQ(Config("general\\Free"), "typed");

    // Typing an entry's caption or picking an entry stores the entry's name.
    free->setEditText("Entry B");
    panel.ApplyChanges();
    EXPECT_EQ(Config("general\\Free"), "b");
    free->setCurrentIndex(0);
    panel.ApplyChanges();
    EXPECT_EQ(Config("general\\Free"), "a");
    EXPECT_EQ(free->count(), 2);
}

TEST_F(OptionsPanelTest, PasswordShowsAsterisksAndStoresClearText) {
    TOptionsPanel& panel = Build(R"(<o><general type="page" caption="G">
        <Secret type="Password" caption="Password"/><Plain caption="User"/></general></o>)",
                                 "<c><general><Secret>s3cr&lt;t</Secret><Plain>me</Plain></general></c>");
    auto* secret = qobject_cast<QLineEdit*>(Row("generalPage", 0).Editor());
    auto* plain = qobject_cast<QLineEdit*>(Row("generalPage", 1).Editor());
    ASSERT_NE(secret, nullptr);
    EXPECT_EQ(secret->text(), "s3cr<t");
    EXPECT_EQ(secret->displayText(), "******");
    EXPECT_EQ(plain->displayText(), "me");

    secret->setText("new pass");
    panel.ApplyChanges();
    EXPECT_EQ(SavedConfig("general\\Secret"), "new pass");
}

TEST_F(OptionsPanelTest, BoolCaptionPlacementFollowsShowLabel) {
    Build(R"(<o><general type="page" caption="G">
        <A type="bool" caption="Beside" showlabel="false"/>
        <B type="bool" caption="Labelled"/>
        <C type="bool" caption="Zero" showlabel="0"/>
        <D type="bool" caption="Upper" showlabel="FALSE"/>
        <E type="bool" caption="Shown" showlabel="true"/>
        <F type="bool" caption="Odd" showlabel="no"/>
      </general></o>)",
          "<c><general><A>True</A><B>False</B><C>True</C><D>True</D><E>True</E><F>True</F></general></c>");
    const struct {
        std::size_t row;
        bool captionOnBox;
    } cases[] = {{0, true}, {1, false}, {2, true}, {3, true}, {4, false}, {5, false}};
    for (const auto& c : cases) {
        const TOptionsControl& row = Row("generalPage", c.row);
        auto* box = qobject_cast<QCheckBox*>(row.Editor());
        ASSERT_NE(box, nullptr);
        const QString caption = row.CaptionLabel()->text();
        EXPECT_EQ(row.CaptionLabel()->isHidden(), c.captionOnBox) << c.row;
        EXPECT_EQ(box->text(), c.captionOnBox ? caption : QString()) << c.row;
        EXPECT_EQ(box->x(), c.captionOnBox ? 20 : 120) << c.row;
        EXPECT_EQ(row.EditorOffset(), c.captionOnBox ? 0 : 100) << c.row;
    }
}

TEST_F(OptionsPanelTest, BoolReadsStoredValueAndStoresTrueOrFalse) {
    const struct {
        const char* stored;
        bool ticked;
        const char* afterApply;
    } cases[] = {
        {"True", true, "True"},
        {"false", false, "False"},
        {"1", true, "True"},
        // Empty or garbled values open unticked instead of failing.
        {"", false, "False"},
        {"yes", false, "False"},
    };
    for (const auto& c : cases) {
        TOptionsPanel& panel =
            Build(R"(<o><general type="page" caption="G"><On type="bool" caption="On"/></general></o>)",
                  std::string("<c><general><On>") + c.stored + "</On></general></c>");
        EXPECT_EQ(qobject_cast<QCheckBox*>(Row("generalPage", 0).Editor())->isChecked(), c.ticked) << c.stored;
        panel.ApplyChanges();
        EXPECT_EQ(SavedConfig("general\\On"), c.afterApply) << c.stored;
    }
}

TEST_F(OptionsPanelTest, GroupIsAFramedPageReadAndWrittenWithItsPage) {
    TOptionsPanel& panel = Build(R"(<o><general type="page" caption="G">
        <Before caption="Before"/>
        <Proxy type="group" caption="Proxy server">
          <Host caption="Host"/>
          <Auth type="group" caption="Login"><User caption="User"/><Pass type="password" caption="Pass"/></Auth>
          <Use type="bool" caption="Use it" showlabel="false"/>
        </Proxy>
        <After caption="After"/>
      </general></o>)",
                                 "<c><general><Proxy><Host>proxy.lan</Host><Auth><User>bob</User></Auth><Use>True</Use>"
                                 "</Proxy></general></c>");
    const TOptionsControl& groupRow = Row("generalPage", 1);
    auto* group = qobject_cast<TOptionsPage*>(groupRow.Editor());
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(group->Framed());
    EXPECT_FALSE(Page("generalPage")->Framed());
    EXPECT_EQ(group->Caption(), "Proxy server");
    EXPECT_TRUE(groupRow.CaptionLabel()->isHidden());
    EXPECT_EQ(groupRow.EditorOffset(), 0);
    EXPECT_EQ(group->x(), 20);
    EXPECT_EQ(groupRow.Height(), group->height());

    // Inside, the rows are laid out like a page's, and the frame fits them.
    ASSERT_EQ(group->Rows().size(), 3u);
    const TOptionsControl& host = *group->Rows()[0];
    EXPECT_EQ(host.Editor()->pos(), QPoint(120, 30));
    EXPECT_EQ(host.CaptionLabel()->parentWidget(), group);
    const QWidget* last = group->Rows()[2]->Editor();
    EXPECT_GT(group->height(), last->geometry().bottom());
    EXPECT_GT(group->width(), host.Editor()->geometry().right());
    // The row after the group starts below it.
    EXPECT_EQ(Row("generalPage", 2).Editor()->y(), group->geometry().bottom() + 1 + 2);

    auto* hostEdit = qobject_cast<QLineEdit*>(host.Editor());
    auto* auth = qobject_cast<TOptionsPage*>(group->Rows()[1]->Editor());
    ASSERT_NE(auth, nullptr);
    auto* user = qobject_cast<QLineEdit*>(auth->Rows()[0]->Editor());
    EXPECT_EQ(hostEdit->text(), "proxy.lan");
    EXPECT_EQ(user->text(), "bob");
    EXPECT_TRUE(qobject_cast<QCheckBox*>(group->Rows()[2]->Editor())->isChecked());

    hostEdit->setText("cache.lan");
    qobject_cast<QLineEdit*>(auth->Rows()[1]->Editor())->setText("pw");
    panel.ApplyChanges();
    EXPECT_EQ(SavedConfig("general\\Proxy\\Host"), "cache.lan");
    EXPECT_EQ(SavedConfig("general\\Proxy\\Auth\\User"), "bob");
    EXPECT_EQ(SavedConfig("general\\Proxy\\Auth\\Pass"), "pw");
    EXPECT_EQ(SavedConfig("general\\Proxy\\Use"), "True");
    // Only pages, not groups, are in the page list.
    EXPECT_EQ(panel.Pages().size(), 1u);
}

TEST_F(OptionsPanelTest, BadNamesStopTheBuildNamingTheElement) {
    const struct {
        const char* structXml;
        const char* expected;
    } cases[] = {
        {R"(<o><general type="page"><A/><A type="bool"/></general></o>)", "Duplicate option \"general\\A\""},
        {R"(<o><general type="page"><G type="group"><X/><X/></G></general></o>)", "Duplicate option \"general\\G\\X\""},
        {R"(<o><general type="page"><_ok1/><a-b/></general></o>)", "Invalid option name \"general\\a-b\""},
        {R"(<o><general type="page"><dc:x xmlns:dc="urn:x"/></general></o>)", "Invalid option name \"general\\dc:x\""},
        {R"(<o><general type="page"/><f type="folder"><general type="page"/></f></o>)",
         "Duplicate page \"f\\general\""},
        {R"(<o><Ä type="page"/></o>)", "Invalid page name \"Ä\""},
    };
    for (const auto& c : cases) {
        Load(c.structXml, "<c/>");
        TOptionsPanel panel;
        try {
            panel.SetOptions(FOptions.get());
            ADD_FAILURE() << "no error for " << c.structXml;
        } catch (const EOptionsStructure& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        }
        EXPECT_EQ(panel.OptionsTreeView()->topLevelItemCount(), 0);
        EXPECT_EQ(panel.OptionsNoteBook()->count(), 0);
        EXPECT_TRUE(panel.Pages().empty());
    }
    // The same name in different pages or groups is fine.
    Load(R"(<o><p1 type="page"><A/><G type="group"><A/></G></p1><p2 type="page"><A/></p2></o>)", "<c/>");
    TOptionsPanel panel;
    EXPECT_NO_THROW(panel.SetOptions(FOptions.get()));
}

TEST_F(OptionsPanelTest, CommentsInAPageAreNotOptions) {
    Build(R"(<o><general type="page" caption="G"><!-- seconds --><A caption="A"/><?note x?></general></o>)", "<c/>");
    EXPECT_EQ(Page("generalPage")->Rows().size(), 1u);
}

TEST_F(OptionsPanelTest, ValuesStayInTheDocumentUntilApplied) {
    TOptionsPanel& panel = Build(R"(<o><general type="page" caption="G"><A caption="A"/></general></o>)",
                                 "<c><general><A>old</A></general></c>");
    qobject_cast<QLineEdit*>(Row("generalPage", 0).Editor())->setText("new");
    EXPECT_EQ(Config("general\\A"), "old");
    panel.ApplyChanges();
    EXPECT_EQ(Config("general\\A"), "new");
    EXPECT_FALSE(FOptions->ConfigDocument().Modified());
    EXPECT_EQ(SavedConfig("general\\A"), "new");
}

TEST_F(OptionsPanelTest, ApplyErrorsPropagateAndNothingIsSaved) {
    TOptionsPanel& panel =
        Build(R"(<o><general type="page" caption="G"><A caption="A"/><B caption="B"/></general></o>)",
              "<c><general><A>a</A><B>b</B></general></c>");
    qobject_cast<QLineEdit*>(Row("generalPage", 1).Editor())->setText("changed");
    // An option element that turned into a container cannot take a value.
    FOptions->GetConfigNode("general\\A").AppendElement("child");
    EXPECT_THROW(panel.ApplyChanges(), xml::XmlError);
    EXPECT_EQ(Config("general\\B"), "b");
    EXPECT_EQ(SavedConfig("general\\B"), "b");
}

TEST_F(OptionsPanelTest, TreeWidthZeroHidesTheTreeAndKeepsTheFirstPage) {
    TOptionsPanel panel;
    EXPECT_EQ(panel.TreeWidth(), 100);
    panel.SetTreeWidth(0);
    EXPECT_EQ(panel.TreeWidth(), 0);
    EXPECT_TRUE(panel.OptionsTreeView()->isHidden());
    Load(R"(<o><general type="page" caption="General"><A/></general><more type="page" caption="More"/></o>)", "<c/>");
    panel.SetOptions(FOptions.get());
    EXPECT_EQ(panel.OptionsNoteBook()->currentIndex(), 0);
    EXPECT_EQ(panel.OptionsNoteBook()->currentWidget()->objectName(), "general");
    panel.SetTreeWidth(150);
    EXPECT_EQ(panel.TreeWidth(), 150);
    EXPECT_EQ(panel.OptionsTreeView()->width(), 150);
    EXPECT_FALSE(panel.OptionsTreeView()->isHidden());
}

TEST_F(OptionsPanelTest, SettingTheStoreAgainRebuilds) {
    TOptionsPanel& panel = Build(kTreeStruct, "<c/>");
    panel.SetOptions(FOptions.get());
    EXPECT_EQ(panel.OptionsTreeView()->topLevelItemCount(), 3);
    EXPECT_EQ(panel.OptionsNoteBook()->count(), 2);
    EXPECT_EQ(panel.Pages().size(), 2u);
}
