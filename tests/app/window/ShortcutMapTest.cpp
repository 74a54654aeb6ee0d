// The shortcut rules without a dialog: conflicts refused naming the
// holder, clearing and resetting, config.xml read and written; then the
// options page in the dialog and the window's actions after OK.
#include <QAction>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

#include "AppTestSupport.h"
#include "FixtureFile.h"
#include "Options.h"
#include "ShortcutMap.h"
#include "ShortcutPage.h"
#include "Shortcuts.h"
#include "XmlDom.h"
#include "fMain.h"
#include "fOptions.h"

namespace {

using TKeys = TShortcutMap::TKeys;

TKeys K(const char* text) { return TShortcutMap::FromText(QString::fromLatin1(text)); }

TShortcutMap SampleMap() {
    TShortcutMap map;
    map.Add("ActionNextUnread", K("N"));
    map.Add("ActionMarkAllRead", {});
    map.Add("ActionZoomIn", K("Ctrl++; Ctrl+="));
    map.Add("ActionFindInFeeds", K("Ctrl+Shift+F"));
    map.Add("ActionStarItem", K("S"));
    map.Add("ActionNextPane", K("F6"), true);
    return map;
}

struct TRuleCase {
    const char* Name;
    std::function<std::optional<QString>(TShortcutMap&)> Act;
    std::optional<QString> Holder;  // the refusal's holder, none when taken
    const char* Action;             // whose keys are then checked
    const char* Keys;
};

TEST(ShortcutMapTest, Rules) {
    const TRuleCase cases[] = {
        {"a key another action holds", [](TShortcutMap& m) { return m.Set("ActionMarkAllRead", K("N")); },
         "ActionNextUnread", "ActionMarkAllRead", ""},
        {"the holder's second key", [](TShortcutMap& m) { return m.Set("ActionMarkAllRead", K("Ctrl+=")); },
         "ActionZoomIn", "ActionMarkAllRead", ""},
        {"a longer sequence starting with a held key",
         [](TShortcutMap& m) { return m.Set("ActionMarkAllRead", K("Ctrl+Shift+F, X")); }, "ActionFindInFeeds",
         "ActionMarkAllRead", ""},
        {"the focus cycle's fixed key", [](TShortcutMap& m) { return m.Set("ActionMarkAllRead", K("F6")); },
         "ActionNextPane", "ActionMarkAllRead", ""},
        {"a free key", [](TShortcutMap& m) { return m.Set("ActionMarkAllRead", K("Ctrl+M")); }, std::nullopt,
         "ActionMarkAllRead", "Ctrl+M"},
        {"its own key again", [](TShortcutMap& m) { return m.Set("ActionZoomIn", K("Ctrl+=")); }, std::nullopt,
         "ActionZoomIn", "Ctrl+="},
        {"a fixed action stays", [](TShortcutMap& m) { return m.Set("ActionNextPane", K("F7")); }, std::nullopt,
         "ActionNextPane", "F6"},
        {"a cleared key is free",
         [](TShortcutMap& m) {
             m.Clear("ActionNextUnread");
             return m.Set("ActionMarkAllRead", K("N"));
         },
         std::nullopt, "ActionMarkAllRead", "N"},
        {"reset refused while another holds the default",
         [](TShortcutMap& m) {
             m.Clear("ActionNextUnread");
             m.Set("ActionStarItem", K("N"));
             return m.Reset("ActionNextUnread");
         },
         "ActionStarItem", "ActionNextUnread", ""},
        {"reset one",
         [](TShortcutMap& m) {
             m.Set("ActionNextUnread", K("J"));
             return m.Reset("ActionNextUnread");
         },
         std::nullopt, "ActionNextUnread", "N"},
        {"reset all",
         [](TShortcutMap& m) {
             m.Clear("ActionNextUnread");
             m.Set("ActionStarItem", K("N"));
             m.ResetAll();
             return std::optional<QString>();
         },
         std::nullopt, "ActionStarItem", "S"},
    };
    for (const TRuleCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TShortcutMap map = SampleMap();
        EXPECT_EQ(c.Act(map), c.Holder);
        EXPECT_EQ(TShortcutMap::ToText(map.Keys(c.Action)), QString::fromLatin1(c.Keys));
    }
}

TEST(ShortcutMapTest, ConfigXmlReadWrittenAndReadBack) {
    xml::Document doc;
    doc.LoadFromString(testsupport::ReadFixtureFile(QUILLET_TEST_DATA_DIR "/config/shortcuts.xml"));
    TShortcutMap map = SampleMap();
    map.Load(doc.DocumentElement());
    const std::pair<const char*, const char*> loaded[] = {
        {"ActionMarkAllRead", "Ctrl+M"}, {"ActionNextUnread", "J"}, {"ActionFindInFeeds", ""}, {"ActionZoomIn", ""},
        {"ActionNextPane", "F6"},        {"ActionStarItem", "S"},
    };
    for (const auto& [action, keys] : loaded)
        EXPECT_EQ(TShortcutMap::ToText(map.Keys(action)), QString::fromLatin1(keys)) << action;

    // Saved into a file without the element, then read back by a new map.
    xml::Document saved;
    saved.LoadFromString("<config><general/></config>");
    map.Save(saved.DocumentElement());
    const std::string text = saved.SaveToString();
    EXPECT_NE(text.find(R"(<shortcut action="ActionFromALaterVersion" keys="Ctrl+L"/>)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"(<shortcut action="ActionZoomIn" keys=""/>)"), std::string::npos) << text;
    EXPECT_EQ(text.find("ActionStarItem"), std::string::npos) << "an action at its default is not written";
    EXPECT_EQ(text.find("ActionNextPane"), std::string::npos) << text;
    TShortcutMap again = SampleMap();
    again.Load(saved.DocumentElement());
    for (const TShortcutMap::TEntry& entry : map.Entries()) EXPECT_EQ(again.Keys(entry.Name), entry.Current);

    // Every action back at its default leaves the later version's entry.
    again.ResetAll();
    again.Save(saved.DocumentElement());
    EXPECT_NE(saved.SaveToString().find("ActionFromALaterVersion"), std::string::npos);
    EXPECT_EQ(saved.SaveToString().find("ActionMarkAllRead"), std::string::npos);
}

TEST(ShortcutMapTest, SwappedKeysLoadAndAFileWithoutTheElementStaysAsItWas) {
    xml::Document swapped;
    swapped.LoadFromString(R"(<config><shortcuts>
        <shortcut action="ActionStarItem" keys="N"/><shortcut action="ActionNextUnread" keys="S"/>
      </shortcuts></config>)");
    TShortcutMap map = SampleMap();
    map.Load(swapped.DocumentElement());
    EXPECT_EQ(map.Keys("ActionStarItem"), K("N"));
    EXPECT_EQ(map.Keys("ActionNextUnread"), K("S"));

    xml::Document older;
    older.LoadFromFile((apptest::DataDir() / "config.xml").string());
    const std::string before = older.SaveToString();
    map.Load(older.DocumentElement());
    for (const TShortcutMap::TEntry& entry : map.Entries()) EXPECT_TRUE(map.IsDefault(entry.Name));
    map.Save(older.DocumentElement());
    EXPECT_EQ(older.SaveToString(), before);
}

// A key the reader chose stays theirs when a newer version gives another
// action that key by default; the fixed keys stay fixed.
TEST(ShortcutMapTest, AStoredChoiceWinsOverADefault) {
    const struct {
        const char* Stored;  // <shortcut> elements
        std::vector<std::pair<const char*, const char*>> Keys;
    } cases[] = {
        {R"(<shortcut action="ActionMarkAllRead" keys="J"/>)",
         {{"ActionMarkAllRead", "J"}, {"ActionNextItem", ""}, {"ActionZoomIn", "Ctrl++; Ctrl+="}}},
        {R"(<shortcut action="ActionMarkAllRead" keys="Ctrl+="/>)",
         {{"ActionMarkAllRead", "Ctrl+="}, {"ActionZoomIn", "Ctrl++"}, {"ActionNextItem", "J"}}},
        {R"(<shortcut action="ActionMarkAllRead" keys="F6"/>)", {{"ActionMarkAllRead", ""}, {"ActionNextPane", "F6"}}},
        {R"(<shortcut action="ActionNextItem" keys="N"/><shortcut action="ActionMarkAllRead" keys="N"/>)",
         {{"ActionNextItem", "N"}, {"ActionMarkAllRead", ""}, {"ActionNextUnread", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Stored);
        TShortcutMap map = SampleMap();
        map.Add("ActionNextItem", K("J"));
        xml::Document doc;
        doc.LoadFromString(std::string("<config><shortcuts>") + c.Stored + "</shortcuts></config>");
        map.Load(doc.DocumentElement());
        for (const auto& [action, keys] : c.Keys)
            EXPECT_EQ(TShortcutMap::ToText(map.Keys(action)), QString::fromLatin1(keys)) << action;
        for (const TShortcutMap::TEntry& entry : map.Entries())
            EXPECT_EQ(map.Holder(entry.Current, entry.Name), std::nullopt) << entry.Name.toStdString();
    }
}

// The page in the dialog, driven by keys: a conflict named in words, a
// change set on the window's action and kept in config.xml by OK.
TEST(ShortcutPageTest, KeysPressedInTheDialogReachTheWindowAndConfigXml) {
    apptest::TStagedHome home;
    auto form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    TFormOptions dialog(form.get(), form->Options(), form->findChild<TShortcutController*>());
    ASSERT_NE(dialog.ShortcutPage, nullptr);
    TShortcutPage& page = *dialog.ShortcutPage;
    const int rows = page.List()->topLevelItemCount();
    EXPECT_GE(rows, 25) << "every action of the menus, toolbar and View menu";
    for (int i = 0; i < rows; ++i) EXPECT_FALSE(page.List()->topLevelItem(i)->text(0).contains('&'));

    page.SelectAction("ActionMarkAllRead");
    QTest::keyClick(page.Keys(), Qt::Key_N);
    EXPECT_EQ(page.Message(), QStringLiteral("N is already used by \"Next Unread\"."));
    QTest::keyClick(page.Keys(), Qt::Key_M, Qt::ControlModifier);
    EXPECT_EQ(page.Message(), QString());
    EXPECT_EQ(page.Map().Keys("ActionMarkAllRead"), K("Ctrl+M"));
    EXPECT_TRUE(form->Actions().MarkAllRead->shortcut().isEmpty()) << "nothing set before OK";

    dialog.OKBtnClick();
    EXPECT_EQ(form->Actions().MarkAllRead->shortcut(), QKeySequence("Ctrl+M"));
    EXPECT_NE(home.ReadFile("config.xml").find(R"(<shortcut action="ActionMarkAllRead" keys="Ctrl+M"/>)"),
              std::string::npos);
}

// Every key of an action is listed, each as the desktop writes it; a choice
// replaces them all and a reset brings them all back. The item keys are
// listed with their defaults, which no other action holds.
TEST(ShortcutPageTest, EveryKeyOfAnActionIsListed) {
    const std::pair<const char*, const char*> texts[] = {
        {"Ctrl++; Ctrl+=", "Ctrl++, Ctrl+="}, {"N", "N"}, {"", ""}, {"Shift+N", "Shift+N"},
        {"Ctrl+,; F1", "Ctrl+,, F1"},
    };
    for (const auto& [keys, shown] : texts)
        EXPECT_EQ(TShortcutPage::KeysText(K(keys)), QString::fromLatin1(shown)) << keys;

    apptest::TStagedHome home;
    auto form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    auto* shortcuts = form->findChild<TShortcutController*>();
    TShortcutPage page(shortcuts->Map(), [shortcuts](const QString& name) { return shortcuts->Caption(name); });
    const auto row = [&page](const QString& name) {
        page.SelectAction(name);
        return page.List()->currentItem()->text(1);
    };
    const std::pair<const char*, const char*> defaults[] = {
        {"ActionZoomIn", "Ctrl++, Ctrl+="},  {"ActionNextItem", "J"},     {"ActionPreviousItem", "K"},
        {"ActionNextUnreadItem", "Shift+N"}, {"ActionOpenItemLink", "O"}, {"ActionToggleItemRead", "M"},
        {"ActionNextUnread", "N"},
    };
    for (const auto& [action, keys] : defaults) {
        EXPECT_EQ(row(action), QString::fromLatin1(keys)) << action;
        EXPECT_EQ(shortcuts->Map().Holder(shortcuts->Map().Keys(action), action), std::nullopt) << action;
    }
    page.SelectAction("ActionZoomIn");
    EXPECT_EQ(page.Keys()->text(), QStringLiteral("Ctrl++, Ctrl+="));
    QTest::keyClick(page.Keys(), Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(row("ActionZoomIn"), QStringLiteral("Ctrl+Alt+Z"));
    EXPECT_EQ(page.Map().Keys("ActionZoomIn"), K("Ctrl+Alt+Z")) << "the choice replaces both keys";
    page.findChild<QPushButton*>("ShortcutResetBtn")->click();
    EXPECT_EQ(row("ActionZoomIn"), QStringLiteral("Ctrl++, Ctrl+="));
    EXPECT_EQ(page.Map().Keys("ActionZoomIn"), K("Ctrl++; Ctrl+="));
}

}  // namespace
