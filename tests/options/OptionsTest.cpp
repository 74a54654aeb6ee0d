#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Convert.h"
#include "Options.h"
#include "TempFolder.h"
#include "XmlDom.h"

namespace fs = std::filesystem;

namespace {

using testsupport::TempFolder;

void WriteFile(const std::string& fileName, const std::string& text) {
    std::ofstream out(fileName, std::ios::binary);
    out << text;
}

std::string ReadFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* const kStruct = R"(<?xml version="1.0"?>
<options>
  <general type="page" caption="General">
    <UpdateInterval type="string" caption="Interval"/>
  </general>
  <internal type="internal"/>
</options>)";

const char* const kConfig = R"(<?xml version="1.0"?>
<config>
  <general>
    <UpdateInterval>60</UpdateInterval>
  </general>
  <internal>
    <language>1033</language>
    <mainform>
      <Width>653</Width>
    </mainform>
    <twin>first</twin>
    <twin>second</twin>
  </internal>
</config>)";

class OptionsTest : public testing::Test {
protected:
    void SetUp() override {
        WriteFile(structFile, kStruct);
        WriteFile(configFile, kConfig);
    }

    TempFolder folder;
    std::string structFile = folder.File("struct.xml");
    std::string configFile = folder.File("config.xml");
};

TEST_F(OptionsTest, PathsIgnoreEmptyPieces) {
    TOptions options;
    options.Load(structFile, configFile);
    const xml::Node root = options.ConfigDocument().DocumentElement();
    const xml::Node width = options.GetConfigNode("internal\\mainform\\Width");
    ASSERT_EQ(width.Text(), "653");

    const struct {
        const char* path;
        xml::Node expected;
    } cases[] = {
        {"", root},
        {"\\", root},
        {"\\\\", root},
        {"internal\\mainform\\Width", width},
        {"\\internal\\mainform\\Width", width},
        {"internal\\mainform\\Width\\", width},
        {"\\internal\\\\mainform\\\\Width\\\\", width},
    };
    for (const auto& c : cases) EXPECT_TRUE(options.GetConfigNode(c.path) == c.expected) << c.path;
    // None of those lookups may have invented an element on the way.
    EXPECT_FALSE(options.ConfigDocument().Modified());
    EXPECT_EQ(root.ChildElements().size(), 2u);
}

TEST_F(OptionsTest, FirstOfTwoSiblingsWins) {
    TOptions options;
    options.Load(structFile, configFile);
    EXPECT_EQ(options.GetConfigNode("internal\\twin").Text(), "first");
}

TEST_F(OptionsTest, StructurePathsStartAtItsOwnRoot) {
    TOptions options;
    options.Load(structFile, configFile);
    EXPECT_EQ(options.GetStructNode("general").Attribute("caption"), "General");
    EXPECT_EQ(options.GetStructNode("general\\UpdateInterval").Attribute("type"), "string");
}

TEST_F(OptionsTest, MissingSettingIsCreatedEmptyAndSaved) {
    {
        TOptions options;
        options.Load(structFile, configFile);
        const xml::Node timeout = options.GetConfigNode("appearance\\BalloonTimeout");
        EXPECT_EQ(timeout.Name(), "BalloonTimeout");
        EXPECT_EQ(timeout.Parent().Name(), "appearance");
        EXPECT_TRUE(plat::VarIsNull(timeout));
        EXPECT_TRUE(options.ConfigDocument().Modified());
        // The lookup finds the element it created instead of adding another.
        EXPECT_TRUE(options.GetConfigNode("appearance\\BalloonTimeout") == timeout);

        options.Save();
        EXPECT_FALSE(options.ConfigDocument().Modified());
    }
    // People edit config.xml by hand: new elements get lines of their own.
    EXPECT_NE(ReadFile(configFile).find("\n  <appearance>\n    <BalloonTimeout/>\n  </appearance>\n"),
              std::string::npos)
        << ReadFile(configFile);
    xml::Document saved;
    saved.LoadFromFile(configFile);
    const xml::Node appearance = saved.DocumentElement().ChildByName("appearance");
    ASSERT_FALSE(appearance.IsNull());
    EXPECT_FALSE(appearance.ChildByName("BalloonTimeout").IsNull());
    // Everything that was there before is still there.
    EXPECT_EQ(saved.DocumentElement().ChildByName("general").ChildByName("UpdateInterval").Text(), "60");
}

TEST_F(OptionsTest, ModifiedConfigurationIsWrittenWhenTheStoreGoes) {
    {
        TOptions options;
        options.Load(structFile, configFile);
        options.GetConfigNode("internal\\mainform\\Width").SetText("0");
        options.GetConfigNode("internal\\mainform\\Height");
    }
    xml::Document saved;
    saved.LoadFromFile(configFile);
    const xml::Node mainform = saved.DocumentElement().ChildByName("internal").ChildByName("mainform");
    EXPECT_EQ(mainform.ChildByName("Width").Text(), "0");
    EXPECT_FALSE(mainform.ChildByName("Height").IsNull());
}

TEST_F(OptionsTest, SavedConfigurationIsNotWrittenAgainWhenTheStoreGoes) {
    // A file changed behind the store's back after its Save survives the
    // store's destruction only if nothing writes it again.
    const std::string marker = "<config><untouched/></config>";
    {
        TOptions options;
        options.Load(structFile, configFile);
        options.GetConfigNode("general\\UpdateInterval").SetText("120");
        options.Save();
        WriteFile(configFile, marker);
    }
    EXPECT_EQ(ReadFile(configFile), marker);

    // A change after the Save does reach the file.
    {
        TOptions options;
        options.Load(structFile, configFile);
        options.Save();
        options.GetConfigNode("general\\UpdateInterval").SetText("90");
    }
    xml::Document saved;
    saved.LoadFromFile(configFile);
    EXPECT_EQ(saved.DocumentElement().ChildByName("general").ChildByName("UpdateInterval").Text(), "90");
}

TEST_F(OptionsTest, UnchangedConfigurationIsNeverRewritten) {
    const std::string before = ReadFile(configFile);
    {
        TOptions options;
        options.Load(structFile, configFile);
        options.GetConfigNode("general\\UpdateInterval").Text();
    }
    EXPECT_EQ(ReadFile(configFile), before);
}

TEST_F(OptionsTest, ReloadingTheStructureLeavesTheConfigurationAlone) {
    const std::string otherStruct = folder.File("struct-de.xml");
    WriteFile(otherStruct, R"(<options><general type="page" caption="Allgemein"/></options>)");

    TOptions options;
    options.Load(structFile, configFile);
    options.GetConfigNode("general\\UpdateInterval").SetText("30");
    options.StructDocument().LoadFromFile(otherStruct);

    EXPECT_EQ(options.GetStructNode("general").Attribute("caption"), "Allgemein");
    EXPECT_TRUE(options.ConfigDocument().Modified());
    EXPECT_EQ(options.GetConfigNode("general\\UpdateInterval").Text(), "30");

    options.Save();
    options.StructDocument().LoadFromFile(structFile);
    EXPECT_FALSE(options.ConfigDocument().Modified());
}

TEST_F(OptionsTest, LookupBeforeLoadRaises) {
    TOptions options;
    EXPECT_THROW(options.GetConfigNode("general"), xml::XmlError);
    EXPECT_THROW(options.GetStructNode(""), xml::XmlError);
    try {
        options.GetConfigNode("general");
    } catch (const xml::XmlError& error) {
        EXPECT_STREQ(error.what(), "No active document");
    }
}

TEST_F(OptionsTest, MalformedConfigurationFailsAndIsNeverOverwritten) {
    const std::string broken = "<config><general><UpdateInterval>60</general></config>";
    WriteFile(configFile, broken);
    {
        TOptions options;
        try {
            options.Load(structFile, configFile);
            FAIL() << "a malformed config.xml must not load";
        } catch (const xml::XmlError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(configFile), std::string::npos) << message;
            // The parser's reason travels with it, not just "failed".
            EXPECT_GT(message.size(), configFile.size() + 20) << message;
        }
        // The structure loaded; the configuration did not.
        EXPECT_NO_THROW(options.GetStructNode("general"));
        EXPECT_THROW(options.GetConfigNode("general"), xml::XmlError);
    }
    EXPECT_EQ(ReadFile(configFile), broken);
}

TEST_F(OptionsTest, FailedReloadDoesNotWriteOverTheBrokenFile) {
    // A store that held changes and then fails to load a broken file must
    // not empty that file with its automatic save.
    TOptions* options = new TOptions;
    options->Load(structFile, configFile);
    options->GetConfigNode("general\\UpdateInterval").SetText("5");
    const std::string broken = "<config><unclosed></config>";
    WriteFile(configFile, broken);
    EXPECT_THROW(options->Load(structFile, configFile), xml::XmlError);
    delete options;
    EXPECT_EQ(ReadFile(configFile), broken);
}

TEST_F(OptionsTest, BrokenOrMissingStructureStopsBeforeTheConfiguration) {
    for (const bool missing : {true, false}) {
        if (missing)
            fs::remove(structFile);
        else
            WriteFile(structFile, "<options>");
        TOptions options;
        try {
            options.Load(structFile, configFile);
            FAIL() << "the structure must not load";
        } catch (const xml::XmlError& error) {
            EXPECT_NE(std::string(error.what()).find(structFile), std::string::npos) << error.what();
        }
        EXPECT_THROW(options.GetConfigNode(""), xml::XmlError);
    }
}

TEST_F(OptionsTest, MissingConfigurationIsCreatedFromTheDeliveredDefault) {
    const std::string delivered = folder.File("config.default.xml");
    WriteFile(delivered, kConfig);
    fs::remove(configFile);

    EXPECT_TRUE(TOptions::EnsureConfigFile(configFile, delivered));
    TOptions options;
    options.Load(structFile, configFile);
    EXPECT_EQ(options.GetConfigNode("general\\UpdateInterval").Text(), "60");

    // An existing file is left as it is, even a broken one: the user may
    // still want what is in it.
    const std::string broken = "<config>";
    WriteFile(configFile, broken);
    EXPECT_FALSE(TOptions::EnsureConfigFile(configFile, delivered));
    EXPECT_EQ(ReadFile(configFile), broken);

    fs::remove(configFile);
    EXPECT_THROW(TOptions::EnsureConfigFile(configFile, folder.File("no-such-default.xml")), xml::XmlError);
    EXPECT_FALSE(fs::exists(configFile));
}

// The delivered config.xml must give every Boolean option of every shipped
// structure a "True" or "False": nothing fills in missing values, and the
// options dialog cannot be built without them.
TEST(ShippedOptions, DeliveredConfigurationFitsEveryStructure) {
    const fs::path data = QUILLET_DATA_DIR;
    int languages = 0;
    for (const auto& entry : fs::directory_iterator(data / "languages")) {
        if (!entry.is_directory()) continue;
        ++languages;
        TempFolder folder;
        const std::string config = folder.File("config.xml");
        fs::copy_file(data / "config.xml", config);
        TOptions options;
        options.Load((entry.path() / "struct.xml").string(), config);

        const xml::Node general = options.GetStructNode("general");
        EXPECT_EQ(general.Attribute("type"), "page") << entry.path();
        EXPECT_EQ(options.GetStructNode("internal").Attribute("type"), "internal") << entry.path();
        for (const xml::Node& option : general.ChildElements()) {
            const std::string path = "general\\" + option.Name();
            EXPECT_FALSE(option.Attribute("caption").value_or("").empty()) << entry.path() << " " << path;
            if (option.Attribute("type") == "bool") {
                EXPECT_NO_THROW(plat::VarToBool(options.GetConfigNode(path))) << entry.path() << " " << path;
            } else if (option.Attribute("type") != "string") {  // a text may be empty; the element is still there
                EXPECT_FALSE(plat::VarIsNull(options.GetConfigNode(path))) << entry.path() << " " << path;
            }
        }
        EXPECT_FALSE(options.ConfigDocument().Modified()) << entry.path() << ": a value was missing";
    }
    EXPECT_GE(languages, 2);
}

TEST(ShippedOptions, DeliveredDefaults) {
    TempFolder folder;
    const std::string config = folder.File("config.xml");
    fs::copy_file(fs::path(QUILLET_DATA_DIR) / "config.xml", config);
    TOptions options;
    options.Load(std::string(QUILLET_DATA_DIR) + "/languages/0409/struct.xml", config);

    const struct {
        const char* path;
        const char* value;
    } expected[] = {
        {"general\\UpdateInterval", "60"},
        {"general\\Polling", "round"},
        {"general\\BalloonTimeout", "10"},
        {"general\\StartTrayIcon", "False"},
        {"general\\ExternalBrowser", "False"},
        {"general\\SecureFeeds", "True"},
        {"general\\FollowRedirects", "False"},
        {"internal\\language", "1033"},
        {"internal\\mainform\\Width", "653"},
        {"internal\\mainform\\Height", "540"},
        {"internal\\mainform\\TreeViewWidth", "200"},
        {"internal\\feedlist\\autoincrement\\id", "1"},
    };
    for (const auto& e : expected) EXPECT_EQ(options.GetConfigNode(e.path).Text(), e.value) << e.path;
    EXPECT_TRUE(options.GetConfigNode("internal\\feedlist\\items").ChildElements().empty());
    EXPECT_FALSE(options.ConfigDocument().Modified());
}

}  // namespace
