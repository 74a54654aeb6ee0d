// The language files Quillet ships: every language must carry the same
// window entries and messages as English, with placeholders that take the
// arguments the program passes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Format.h"
#include "XmlDom.h"
#include "uvxLanguage.h"

namespace fs = std::filesystem;

namespace {

const fs::path kLanguages = fs::path(QUILLET_DATA_DIR) / "languages";

// Every element below `form` as a path, with the attribute names it
// carries: "FormMain/ActionExit@Caption".
std::set<std::string> FormEntries(const xml::Node& forms) {
    std::set<std::string> entries;
    std::vector<std::pair<xml::Node, std::string>> pending{{forms, ""}};
    while (!pending.empty()) {
        auto [element, prefix] = pending.back();
        pending.pop_back();
        for (const xml::Node& child : element.ChildElements()) {
            const std::string path = prefix + child.Name();
            entries.insert(path);
            for (const auto& attribute : child.Attributes()) entries.insert(path + "@" + attribute.first);
            pending.emplace_back(child, path + "/");
        }
    }
    return entries;
}

std::set<std::string> MessageNames(const xml::Node& messages) {
    std::set<std::string> names;
    for (const xml::Node& message : messages.ChildElements()) names.insert(message.Name());
    return names;
}

// The arguments the program passes to each message.
const std::map<std::string, std::vector<plat::FormatArg>>& MessageArguments() {
    static const std::map<std::string, std::vector<plat::FormatArg>> arguments = {
        {"DeleteConfirm", {"Planet News (3)"}},
        {"UpdatingFeed", {"Planet News"}},
        {"UpdatedFeed", {"Planet News"}},
        {"FailedFeed", {"Planet News - HTTP/1.1 404 Not Found"}},
        {"UpdatedTitles", {"Planet News", 37}},
        {"NewItemsSummary", {7, 3}},
        {"ImportedOPML", {12, 45}},
        {"InvalidOPML", {"no body element"}},
        {"ConfigLoadFailed", {"config.xml", "line 3: unexpected end"}},
        {"NoLanguages", {}},
        {"ConfigSaveFailed", {"/home/user/config.xml", "No space left on device"}},
        {"NotModifiedFeed", {"Planet News (3)"}},
        {"ReadingPaneFailed", {"quillet-pane ended (exit status 1)"}},
        {"HomePassedOver", {"/tmp/shared", "/home/user/.local/share/quillet"}},
        {"HomeOpenToOthers", {"/srv/feeds"}},
        {"ShippedFilesNotRefreshed", {"/home/user/.local/share/quillet", "No space left on device"}},
        {"InstanceChannelFailed", {"cannot listen on /run/user/1000/quillet-0.sock"}},
        {"NewFolderCaption", {}},
        {"DeleteFolderConfirm", {"Harbour News"}},
        {"DeleteFolderKeepFeeds", {}},
        {"DeleteFolderWithFeeds", {}},
        {"DiscoverSearching", {"example.org"}},
        {"DiscoverNoFeed", {"example.org"}},
        {"DiscoverHostNotFound", {"example.org"}},
        {"DiscoverTimedOut", {"example.org"}},
        {"DiscoverInvalid", {"ftp:/x"}},
        {"DiscoverRefused", {"example.org", 403}},
        {"DiscoverSeveral", {3}},
        {"DiscoverCancelled", {}},
        {"DiscoverAddAnyway", {}},
        {"FeedAlreadyListed", {"Harbour News"}},
        {"IntervalMinutes", {}},
        {"IntervalHours", {}},
        {"ItemBaseSetAside", {"/home/user/items.db.damaged-20250101T000000Z"}},
        {"ItemBaseUnavailable", {"unable to open database file"}},
        {"HealthSetAside", {"/home/user/health.json.damaged-20250101T000000Z"}},
        {"AccountPlainHttp", {}},
        {"AddFeedWaiting", {4, "https://example.org/feed.xml"}},
        {"FolderTooDeep", {64}},
        {"ImportedOPMLFlattened", {3, 64}},
        {"ImportedOPMLRefused", {2}},
        {"NoUnreadFeeds", {}},
        {"NoPageItems", {}},
        {"PageNewItems", {3}},
        {"ArticleNotFetched", {"the server refused the page (HTTP/1.1 404 Not Found)"}},
        {"ArticleKeptSummary", {"the page holds no article"}},
        {"ArticleReadLink", {}},
        {"PageStarLink", {}},
        {"AccountSecretStoreAsking", {20}},
        {"DiscoverFoundOne", {"Planet News"}},
        {"PageStarredLink", {}},
        {"ItemMenuStar", {}},
        {"ItemMenuUnstar", {}},
        {"StarNoItem", {}},
        {"StarStoreNotOpen", {}},
        {"StarredRowCaption", {}},
        {"StarredViewTitle", {}},
        {"StarredViewAbout", {}},
        {"StarredNewerPage", {}},
        {"StarredOlderPage", {12}},
        {"StarredViewFailed", {"disk full"}},
        {"StarredExported", {12, "/tmp/starred.xml"}},
        {"StarredExportFailed", {"disk full"}},
        {"ArticleOriginalLink", {}},
        {"ArticleReasonNoLink", {}},
        {"ArticleReasonHttpStatus", {}},
        {"ArticleReasonTimedOut", {}},
        {"ArticleReasonTooLarge", {}},
        {"ArticleReasonNetwork", {}},
        {"ArticleReasonNotAPage", {}},
        {"ArticleReasonNoArticle", {}},
        {"ArticleReasonShorter", {}},
        {"ArticleReasonOther", {}},
        {"SearchColumnFeed", {}},
        {"SearchColumnTitle", {}},
        {"SearchColumnDate", {}},
        {"AccountKindGReader", {}},
        {"AccountAddTitle", {}},
        {"AccountEditTitle", {}},
        {"AccountPasswordTitle", {}},
        {"AccountCheckAndAdd", {}},
        {"AccountCheckAndSave", {}},
        {"AccountKeepPassword", {}},
        {"AccountColumnName", {}},
        {"AccountColumnAddress", {}},
        {"AccountColumnUser", {}},
        {"AccountFieldsMissing", {}},
        {"AccountAlreadyListed", {"rss.example.org"}},
        {"AccountRemoveConfirm", {"rss.example.org"}},
        {"AccountPasswordRefused", {"rss.example.org"}},
        {"AccountPasswordInStore", {}},
        {"AccountPasswordInFile", {"accounts/alice@rss.example.org.secret"}},
        {"AccountPasswordNotKept", {"the disk is full"}},
        {"SignInChecking", {"https://rss.example.org"}},
        {"SignInWrongPassword", {"https://rss.example.org"}},
        {"SignInNotGoogleReader", {"https://rss.example.org"}},
        {"SignInTls", {"https://rss.example.org", "certificate has expired"}},
        {"SignInUnreachable", {"https://rss.example.org", "Could not resolve host"}},
        {"SignInTimedOut", {"https://rss.example.org"}},
        {"SignInServerTrouble", {"https://rss.example.org", "HTTP 503"}},
        {"SignInCancelled", {}},
        {"SignInFailed", {"https://rss.example.org", "the answer is not JSON"}},
        {"HealthColumnCause", {}},
        {"HealthAttentionOne", {}},
        {"HealthAttentionMany", {4}},
        {"HealthMoved", {"https://news.example/feed/"}},
        {"HealthAddressChanged", {"http://old.example/rss", "https://news.example/feed/"}},
        {"HealthGone", {}},
        {"HealthNotFound", {}},
        {"HealthFailing", {"The server was not found."}},
        {"HealthSilent", {180}},
        {"FailureMoved", {"https://news.example/feed/"}},
        {"FailureGone", {}},
        {"FailureNotFound", {}},
        {"FailureRefused", {}},
        {"FailureBotProtection", {}},
        {"FailureNotAFeed", {}},
        {"FailureHostNotFound", {}},
        {"FailureUnreachable", {}},
        {"FailureTlsInvalid", {}},
        {"FailureTimedOut", {}},
        {"FailureServerError", {}},
        {"FailureRateLimited", {}},
        {"FailureOther", {}},
        {"AccountSynced", {"FreshRSS"}},
        {"AccountSyncFailed", {"A queued change is damaged"}},
        {"AccountPasswordRefused", {}},
        {"AccountUnreachable", {}},
        {"AccountTimedOut", {}},
        {"AccountServerTrouble", {}},
        {"AccountChangesRejected", {"subscribe: HTTP 400"}},
        {"AccountSubscribeRefused", {"HTTP 404"}},
        {"ImportOPMLTarget", {}},
        {"ImportOPMLBusy", {}},
        {"RowSpokenFolder", {}},
        {"RowSpokenOneFeed", {}},
        {"RowSpokenFeeds", {3}},
        {"RowSpokenOneItem", {}},
        {"RowSpokenItems", {5}},
        {"RowSpokenUnread", {4}},
        {"RowSpokenFailing", {"reason"}},
        {"RowSpokenAttention", {"reason"}},
        {"SpokenNewItem", {"feed", "title"}},
        {"SpokenFeedFailing", {"feed", "reason"}},
        {"SearchNothingFound", {}},
        {"SearchOneFound", {}},
        {"SearchFound", {7}},
        {"SearchFailed", {"reason"}},
        {"PageItemNew", {}},
        {"PageItemAlert", {}},
        {"ShortcutsTab", {}},
        {"ShortcutColumnAction", {}},
        {"ShortcutColumnKeys", {}},
        {"ShortcutKeysLabel", {}},
        {"ShortcutClear", {}},
        {"ShortcutReset", {}},
        {"ShortcutResetAll", {}},
        {"ShortcutTaken", {"Ctrl+M", "Mark All as Read"}},
        {"ShortcutPaneKeys", {}},
    };
    return arguments;
}

std::vector<fs::path> LanguageFiles() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(kLanguages)) {
        if (entry.is_directory()) files.push_back(entry.path() / "language.xml");
    }
    files.push_back(kLanguages / "Template.xml");
    return files;
}

TEST(ShippedLanguages, ScanFindsEnglishAndGerman) {
    TvxLanguage language;
    language.Scan(kLanguages.string());
    std::set<std::uint32_t> lcids;
    for (int i = 0; i < language.Count(); ++i) lcids.insert(language.Item(i).LCID());
    EXPECT_TRUE(lcids.count(1033));
    EXPECT_TRUE(lcids.count(1031));
    EXPECT_EQ(lcids.size(), static_cast<std::size_t>(language.Count()));

    language.SetLCID(1033);
    EXPECT_EQ(language.FormatMsg("UpdatedTitles", {"Daily", 3}), "Daily: 3 new items");
    language.SetLCID(1031);
    EXPECT_EQ(language.FormatMsg("UpdatedTitles", {"Daily", 3}), "Daily: 3 neue Einträge");
    EXPECT_TRUE(fs::exists(language.GetFileName("struct.xml")));
}

TEST(ShippedLanguages, EnglishHoldsEveryTextOfTheProgram) {
    xml::Document english;
    english.LoadFromFile((kLanguages / "0409" / "language.xml").string());
    const std::set<std::string> entries = FormEntries(english.DocumentElement().ChildByName("form"));

    std::vector<std::string> required;
    for (const char* action : {"ActionAddFeed", "ActionDeleteFeed", "ActionEditFeed", "ActionUpdateFeed",
                               "ActionCopyURL", "ActionShowQuillet", "ActionHideQuillet", "ActionOptions", "ActionExit",
                               "ActionHelp", "ActionAbout", "ActionHomePage", "ActionSupport", "ActionImportOPML",
                               "ActionExportOPML", "ActionUpdateAll", "ActionNotifyFeed", "ActionRenameFeed"}) {
        required.push_back(std::string("FormMain/") + action + "@Caption");
        required.push_back(std::string("FormMain/") + action + "@Hint");
    }
    for (const char* menu : {"File1", "Feed1", "LanguageMenu", "Help1"})
        required.push_back(std::string("FormMain/") + menu + "@Caption");
    for (const char* entry :
         {"FormMain@Caption", "FormAddFeed@Caption", "FormAddFeed/Label1@Caption", "FormAddFeed/OKBtn@Caption",
          "FormAddFeed/CancelBtn@Caption", "FormOptions@Caption", "FormOptions/OKBtn@Caption",
          "FormOptions/ApplyBtn@Caption", "FormOptions/CancelBtn@Caption", "AboutBox@Caption",
          "AboutBox/Label1@Caption", "AboutBox/Label2@Caption", "AboutBox/Label3@Caption", "AboutBox/Label4@Caption",
          "AboutBox/OKButton@Caption"})
        required.push_back(entry);
    for (const char* component : {"", "/LabelCaption", "/LabelURL", "/LabelFolder", "/CheckNotify", "/GroupInterval",
                                  "/RadioIntervalDefault", "/RadioIntervalOwn", "/OKBtn", "/CancelBtn"})
        required.push_back(std::string("FormFeedProperties") + component + "@Caption");
    // What a screen reader calls the controls that have no label of their own.
    for (const char* entry :
         {"FormMain/FeedFilter@accessibleName", "FormMain/TreeView@accessibleName", "FormMain/LightPane@accessibleName",
          "FormMain/WebBrowser@accessibleName", "FormMain/StatusBar@accessibleName",
          "FormMain/ToolBar/qt_toolbar_ext_button@accessibleName", "FormFindInFeeds/SearchText@accessibleName",
          "FormFindInFeeds/SearchResults@accessibleName", "FormAddFeed/ResultList@accessibleName",
          "FormFeedProperties/SpinInterval@accessibleName", "FormFeedProperties/ComboIntervalUnit@accessibleName",
          "FormAccounts/AccountList@accessibleName", "FormFeedHealth/ListFeeds@accessibleName"})
        required.push_back(entry);
    for (const std::string& entry : required) EXPECT_TRUE(entries.count(entry)) << entry;

    std::set<std::string> expectedMessages;
    for (const auto& [name, args] : MessageArguments()) expectedMessages.insert(name);
    EXPECT_EQ(MessageNames(english.DocumentElement().ChildByName("message")), expectedMessages);
}

TEST(ShippedLanguages, EveryLanguageMatchesEnglish) {
    xml::Document english;
    english.LoadFromFile((kLanguages / "0409" / "language.xml").string());
    const std::set<std::string> englishForms = FormEntries(english.DocumentElement().ChildByName("form"));
    const std::set<std::string> englishMessages = MessageNames(english.DocumentElement().ChildByName("message"));

    for (const fs::path& file : LanguageFiles()) {
        SCOPED_TRACE(file.string());
        xml::Document document;
        ASSERT_NO_THROW(document.LoadFromFile(file.string()));
        const xml::Node root = document.DocumentElement();
        EXPECT_EQ(FormEntries(root.ChildByName("form")), englishForms);
        const xml::Node messages = root.ChildByName("message");
        EXPECT_EQ(MessageNames(messages), englishMessages);

        for (const xml::Node& element : root.ChildByName("form").ChildElements()) {
            for (const xml::Node& component : element.ChildElements()) {
                for (const auto& [name, value] : component.Attributes())
                    EXPECT_FALSE(value.empty()) << element.Name() << "/" << component.Name() << "@" << name;
            }
        }
        // Each message takes exactly the arguments the program passes and
        // shows every one of them.
        for (const auto& [name, args] : MessageArguments()) {
            const std::string templ = messages.ChildByName(name).IsNull() ? "" : messages.ChildByName(name).Text();
            EXPECT_FALSE(templ.empty()) << name;
            std::string text;
            ASSERT_NO_THROW(text = plat::Format(templ, args)) << name << ": " << templ;
            for (const plat::FormatArg& arg : args) {
                const std::string shown = arg.IsText() ? arg.Text() : std::to_string(arg.Number());
                EXPECT_NE(text.find(shown), std::string::npos) << name << ": " << text;
            }
        }
    }
}

TEST(ShippedLanguages, StructureFilesOfferTheSameOptions) {
    std::map<std::string, std::string> englishOptions;  // name -> type
    xml::Document english;
    english.LoadFromFile((kLanguages / "0409" / "struct.xml").string());
    for (const xml::Node& option : english.DocumentElement().ChildByName("general").ChildElements())
        englishOptions[option.Name()] = option.Attribute("type").value_or("");
    const std::map<std::string, std::string> expected = {
        {"UpdateInterval", "string"}, {"Polling", "choice"},        {"BalloonTimeout", "string"},
        {"StartTrayIcon", "bool"},    {"ExternalBrowser", "bool"},  {"SecureFeeds", "bool"},
        {"FollowRedirects", "bool"},  {"ShowWebImages", "bool"},    {"StartOnLogin", "bool"},
        {"AlertWords", "string"},     {"OnlyAlertWords", "bool"},   {"SilentDays", "string"},
        {"ReadingPane", "choice"},    {"ImageCacheSize", "string"}, {"PageFont", "string"},
        {"PageFontSize", "string"},   {"PageLineWidth", "string"},  {"PageColours", "choice"},
    };
    EXPECT_EQ(englishOptions, expected);

    for (const auto& entry : fs::directory_iterator(kLanguages)) {
        if (!entry.is_directory()) continue;
        SCOPED_TRACE(entry.path().string());
        xml::Document structure;
        ASSERT_NO_THROW(structure.LoadFromFile((entry.path() / "struct.xml").string()));
        const xml::Node general = structure.DocumentElement().ChildByName("general");
        EXPECT_EQ(general.Attribute("type"), "page");
        EXPECT_FALSE(general.Attribute("caption").value_or("").empty());
        std::map<std::string, std::string> options;
        for (const xml::Node& option : general.ChildElements()) {
            options[option.Name()] = option.Attribute("type").value_or("");
            EXPECT_FALSE(option.Attribute("caption").value_or("").empty()) << option.Name();
        }
        EXPECT_EQ(options, expected);
        const xml::Node internal = structure.DocumentElement().ChildByName("internal");
        ASSERT_FALSE(internal.IsNull());
        EXPECT_EQ(internal.Attribute("type"), "internal");
    }
}

TEST(ShippedLanguages, TheDeliveredConfigurationShowsWebImages) {
    xml::Document config;
    config.LoadFromFile((fs::path(QUILLET_DATA_DIR) / "config.xml").string());
    EXPECT_EQ(config.DocumentElement().ChildByName("general").ChildByName("ShowWebImages").Text(), "True");
    for (const char* language : {"0409", "0407"}) {
        xml::Document structure;
        structure.LoadFromFile((kLanguages / language / "struct.xml").string());
        const xml::Node option = structure.DocumentElement().ChildByName("general").ChildByName("ShowWebImages");
        EXPECT_EQ(option.Attribute("type"), "bool") << language;
    }
    xml::Document english;
    english.LoadFromFile((kLanguages / "0409" / "struct.xml").string());
    EXPECT_EQ(english.DocumentElement().ChildByName("general").ChildByName("ShowWebImages").Attribute("caption"),
              "Show images from the web");
}

}  // namespace
