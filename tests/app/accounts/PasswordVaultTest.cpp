// The password vault where no secret store answers (no session bus, as in
// CI): the user-only file, its modes, round trips and removal.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Isolation.h"
#include "PasswordVault.h"
#include "TempFolder.h"

namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

TEST(PasswordVault, WithoutASecretStoreThePasswordLivesInAUserOnlyFile) {
    testsupport::NoSessionBus noBus;
    testsupport::TempFolder home("quillet-vault");
    const QString folder = QString::fromStdString(home.File("accounts"));
    TPasswordVault vault(folder);
    vault.SetStoreTimeout(std::chrono::milliseconds(5000));

    struct Case {
        const char* Id;
        QString Password;
    } cases[] = {
        {"alice@rss.example.org", QStringLiteral("plain-secret")},
        {"bob@rss.example.org", QStringLiteral(" spaces, ünïcödé & <marks> ")},
        {"alice@rss.example.org", QStringLiteral("replaced-secret")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Id);
        const TVaultResult written = vault.WriteNow(c.Id, c.Password);
        ASSERT_TRUE(written.Ok) << written.Error.toStdString();
        EXPECT_EQ(written.Place, TVaultPlace::File);
        const fs::path file = vault.SecretFile(c.Id).toStdString();
        EXPECT_EQ(ModeOf(file), 0600u);
        EXPECT_EQ(ModeOf(folder.toStdString()), 0700u);
        const TVaultResult read = vault.ReadNow(c.Id);
        ASSERT_TRUE(read.Ok) << read.Error.toStdString();
        EXPECT_EQ(read.Place, TVaultPlace::File);
        EXPECT_EQ(read.Password, c.Password);
    }
    // No temporary files are left beside the secrets.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.toStdString()), fs::directory_iterator()), 2);

    // Removing takes the file; the other account keeps its own.
    EXPECT_TRUE(vault.RemoveNow("alice@rss.example.org").Ok);
    EXPECT_FALSE(fs::exists(vault.SecretFile("alice@rss.example.org").toStdString()));
    const TVaultResult gone = vault.ReadNow("alice@rss.example.org");
    EXPECT_FALSE(gone.Ok);
    EXPECT_TRUE(gone.NotFound);
    EXPECT_EQ(vault.ReadNow("bob@rss.example.org").Password, cases[1].Password);
    // Removing what is not there is no failure.
    EXPECT_TRUE(vault.RemoveNow("alice@rss.example.org").Ok);
}

TEST(PasswordVault, FilesAreTightenedAndIdsNeverLeaveTheFolder) {
    testsupport::TempFolder home("quillet-vault");
    TPasswordVault vault(QString::fromStdString(home.File("accounts")));
    vault.SetUseSecretStore(false);
    {
        // A folder and a file restored from a backup with loose modes.
        testsupport::ScopedUmask loose(0);
        fs::create_directory(home.File("accounts"));
        ::chmod(home.File("accounts").c_str(), 0755);
        std::FILE* old = std::fopen(home.File("accounts/carol.secret").c_str(), "w");
        std::fputs("old", old);
        std::fclose(old);
        ::chmod(home.File("accounts/carol.secret").c_str(), 0644);
    }
    EXPECT_EQ(vault.ReadNow("carol").Password, QStringLiteral("old"));
    EXPECT_EQ(ModeOf(home.File("accounts/carol.secret")), 0600u);
    ASSERT_TRUE(vault.WriteNow("carol", "new").Ok);
    EXPECT_EQ(ModeOf(home.File("accounts")), 0700u);
    EXPECT_EQ(ModeOf(home.File("accounts/carol.secret")), 0600u);

    // Ids come from a config.xml that may have been edited by hand.
    for (const char* id : {"../escaped", ".hidden", "a/b", "", "x\ny", "trailing\n"}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(vault.SecretFile(id).isEmpty());
        EXPECT_FALSE(vault.WriteNow(id, "secret").Ok);
        EXPECT_FALSE(vault.ReadNow(id).Ok);
    }
    EXPECT_FALSE(fs::exists(home.File("escaped.secret")));
}

}  // namespace
