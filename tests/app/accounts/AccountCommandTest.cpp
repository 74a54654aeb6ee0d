// quillet --add-account through the real program: the password on standard
// input, the sign-in checked, the account kept in config.xml and the vault
// (no instance running) or handed to the running window.
#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>

#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../../sync/FakeReader.h"
#include "AccountController.h"
#include "AccountList.h"
#include "AppTestSupport.h"
#include "CommandLine.h"
#include "InstanceRequests.h"
#include "Isolation.h"
#include "LoopbackServer.h"
#include "SingleInstance.h"
#include "XmlDom.h"
#include "fMain.h"

namespace {

namespace fs = std::filesystem;

struct TRun {
    int Status = -1;
    std::string Output;
};

// Runs the program in `home` with `stdinText` as its standard input.
TRun RunProgram(const fs::path& home, const std::string& args, const std::string& stdinText) {
    const fs::path input = home / "stdin.txt";
    std::FILE* file = std::fopen(input.c_str(), "w");
    std::fputs(stdinText.c_str(), file);
    std::fclose(file);
    const std::string command = "cd '" + home.string() +
                                "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                                "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/quillet-test-bus '" +
                                QUILLET_PROGRAM_PATH + "' --home '" + home.string() + "' " + args + " < '" +
                                input.string() + "' 2>&1";
    TRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) run.Output.append(buffer, n);
    const int status = pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::vector<accountlist::TAccountRecord> SavedAccounts(const fs::path& home) {
    apptest::TSavedFeedList saved((home / "config.xml").string());
    std::vector<accountlist::TAccountRecord> records;
    for (const feedlist::TListEntry* folder : accountlist::AccountFolders(saved.List()))
        records.push_back(*accountlist::RecordOf(folder));
    return records;
}

TEST(AccountCommand, TheOptionsAreReadOrRefused) {
    struct Case {
        std::vector<std::string> Args;
        std::string Address, User, Error;
    } cases[] = {
        {{"--add-account", "https://h/api/greader.php", "--user", "alice"}, "https://h/api/greader.php", "alice", ""},
        {{"--user=bob", "--add-account=h.example"}, "h.example", "bob", ""},
        {{"--add-account", "h.example"}, "", "", "--add-account needs --user NAME"},
        {{"--user", "alice"}, "", "", "--user belongs to --add-account"},
        {{"--add-account"},
         "",
         "",
         "--add-account needs the server's address, as in --add-account "
         "https://rss.example.org/api/greader.php"},
        {{"--add-account", "h", "--user", "a", "x.org"},
         "",
         "",
         "--add-account takes one address and --user, nothing else"},
        {{"--add-account", "h", "--user", "a", "--user", "b"}, "", "", "--user is given twice"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args));
        std::vector<char*> argv{const_cast<char*>("quillet")};
        for (std::string& arg : c.Args) argv.push_back(arg.data());
        const TCommandLine line = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(line.Error, c.Error);
        if (!c.Error.empty()) continue;
        EXPECT_EQ(line.AddAccount.value_or(""), c.Address);
        EXPECT_EQ(line.User.value_or(""), c.User);
    }
}

TEST(AccountCommand, WithoutAnInstanceTheAccountIsCheckedAndKept) {
    testsupport::LoopbackServer server;
    synctest::AddSignIn(server);
    apptest::TStagedHome home;
    const std::string api = server.Url(synctest::kApi);
    struct Row {
        std::string Args, Password;
        int Status;
        std::string Output;
        std::size_t Accounts;  // in config.xml afterwards
    } rows[] = {
        {"--add-account " + api + " --user alice", "wrong\n", 1, "refused the user name or the password", 0},
        {"--add-account " + api + " --user alice", "", 1, "no password", 0},
        {"--add-account http://127.0.0.1:" + std::to_string(server.Port()) + " --user alice", "secret\n", 0,
         " added (" + api + ")", 1},
        {"--add-account " + api + "/ --user alice", "secret\r\n", 1, "already in the list", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Args);
        const TRun run = RunProgram(home.Dir(), row.Args, row.Password);
        EXPECT_EQ(run.Status, row.Status) << run.Output;
        EXPECT_NE(run.Output.find(row.Output), std::string::npos) << run.Output;
        EXPECT_EQ(SavedAccounts(home.Dir()).size(), row.Accounts);
        // Every server here is plain http://: warned of once signed in.
        EXPECT_EQ(run.Output.find("warning: This address is plain http://") != std::string::npos,
                  row.Password.rfind("secret", 0) == 0)
            << run.Output;
    }
    const auto accounts = SavedAccounts(home.Dir());
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].Address, api);
    EXPECT_EQ(accounts[0].User, "alice");
    // No secret store answers in this environment: the user-only file.
    const fs::path secret = home.Dir() / "accounts" / (accounts[0].Id + ".secret");
    EXPECT_EQ(home.ReadFile("accounts/" + accounts[0].Id + ".secret"), "secret");
    EXPECT_EQ(fs::status(secret).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST(AccountCommand, ARunningWindowTakesTheAccount) {
    testsupport::NoSessionBus noBus;
    testsupport::LoopbackServer server;
    synctest::AddSignIn(server);
    apptest::TStagedHome home;
    TFormMain form;
    form.Updates().Stop();
    QSignalSpy ready(&form.Accounts(), &TAccountController::accountReady);
    TSingleInstance instance(QDir::currentPath());
    ASSERT_TRUE(instance.Claim());
    instance.RequestHandler = [&form](const QByteArray& verb, const QString& argument) {
        return AnswerInstanceRequest(form, verb, argument);
    };
    const std::string args = "--add-account " + server.Url(synctest::kApi) + " --user alice";
    auto runBeside = [&](const std::string& password) {
        TRun run;
        std::atomic<bool> done{false};
        std::thread program([&] {
            run = RunProgram(home.Dir(), args, password);
            done = true;
        });
        apptest::WaitUntil([&] { return done.load(); }, 30000);
        program.join();
        return run;
    };
    const TRun wrong = runBeside("wrong\n");
    EXPECT_EQ(wrong.Status, 1) << wrong.Output;
    const TRun added = runBeside("secret\n");
    EXPECT_EQ(added.Status, 0) << added.Output;
    EXPECT_NE(added.Output.find("added to the running Quillet"), std::string::npos) << added.Output;
    const auto folders = accountlist::AccountFolders(form.FeedList());
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_TRUE(apptest::WaitUntil([&] { return ready.count() == 1; }, 10000));
    EXPECT_EQ(ready.at(0).at(1).toString(), QStringLiteral("secret"));
    const TRun again = runBeside("secret\n");
    EXPECT_EQ(again.Status, 1);
    EXPECT_NE(again.Output.find("already in the list"), std::string::npos) << again.Output;
}

}  // namespace
