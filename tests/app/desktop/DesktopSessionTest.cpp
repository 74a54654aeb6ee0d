// Living in a desktop session: one instance per home folder with the
// hand-over of a second start, and the session's autostart entry.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <functional>
#include <tuple>
#include <vector>
#include <stdexcept>
#include <thread>

#include <csignal>
#include <optional>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AppInfo.h"
#include "AppTestSupport.h"
#include "Autostart.h"
#include "Options.h"
#include "OptionsPanel.h"
#include "ReadStateController.h"
#include "InstanceRequests.h"
#include "ItemStore.h"
#include "Opml.h"
#include "SingleInstance.h"
#include "XmlDom.h"
#include "fMain.h"
#include "Isolation.h"
#include "UserAccess.h"
#include "fOptions.h"
#include "uvxLanguage.h"

namespace {

// Runs `body` in a child process, and reaps it so that its process id is
// gone. The body ends the child itself when it wants to skip the clean-up.
template <typename Body>
void CrashedRun(Body body) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Points XDG_RUNTIME_DIR and XDG_CONFIG_HOME into a scratch folder for the
// test and puts the old values back afterwards.
class ScopedSessionFolders {
public:
    ScopedSessionFolders() {
        for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"}) {
            FSaved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            qputenv(name, QDir(FFolder.path()).filePath(QString::fromLatin1(name)).toLocal8Bit());
            QDir().mkpath(qEnvironmentVariable(name));
            // As a session makes them: the user's alone.
            QFile::setPermissions(qEnvironmentVariable(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
    ~ScopedSessionFolders() {
        for (const auto& [name, value, wasSet] : FSaved) {
            if (wasSet)
                qputenv(name, value);
            else
                qunsetenv(name);
        }
    }
    QString Path() const { return FFolder.path(); }

private:
    QTemporaryDir FFolder;
    std::vector<std::tuple<const char*, QByteArray, bool>> FSaved;
};

// A process that listens on `path` and answers "ok" to anything, as one
// squatting the instance's socket would; as `user` where given.
class TSquatter {
public:
    TSquatter(const QString& path, std::optional<testsupport::OtherUser> user) : FPath(path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        QFile::encodeName(path).toStdString().copy(address.sun_path, sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        FPid = ::fork();
        if (FPid != 0) {
            ::close(fd);
            return;
        }
        if (user && (::setgid(user->gid) != 0 || ::setuid(user->uid) != 0)) ::_exit(2);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) ::_exit(3);
        for (char buffer[256];;) {
            const int client = ::accept(fd, nullptr, nullptr);
            (void)!::read(client, buffer, sizeof buffer);
            (void)!::write(client, "ok\n", 3);
            ::close(client);
        }
    }
    ~TSquatter() {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
        QFile::remove(FPath);
    }
    bool Listening() const {
        return apptest::WaitUntil([this] { return QFileInfo(FPath).exists(); }, 3000);
    }

private:
    QString FPath;
    pid_t FPid = -1;
};

// A second start's hand-over, run beside the event loop the first answers from.
int HandOverFrom(const TSingleInstance& start, int timeoutMs) {
    std::atomic<int> handedOver{-1};
    std::thread starter([&] { handedOver = start.HandOver(timeoutMs) ? 1 : 0; });
    apptest::WaitUntil([&] { return handedOver != -1; }, timeoutMs + 3000);
    starter.join();
    return handedOver;
}

}  // namespace

TEST(SingleInstance, ASecondStartInTheSameHomeHandsOverAndAnotherHomeRunsAlongside) {
    ScopedSessionFolders session;
    QTemporaryDir home, otherHome;
    TSingleInstance first(home.path());
    ASSERT_TRUE(first.Claim());
    int showRequests = 0;
    QObject::connect(&first, &TSingleInstance::showRequested, [&] { ++showRequests; });

    // The same folder spelt differently is the same home.
    TSingleInstance second(home.path() + QStringLiteral("/./"));
    EXPECT_EQ(TSingleInstance::ServerName(home.path()), TSingleInstance::ServerName(home.path() + "/./"));
    EXPECT_FALSE(second.Claim());

    // The second start blocks while it waits for the answer, as the real
    // one does; the first answers from its event loop meanwhile.
    std::atomic<int> handedOver{-1};
    std::thread starter([&] { handedOver = second.HandOver(5000) ? 1 : 0; });
    const bool answered = apptest::WaitUntil([&] { return handedOver != -1; }, 8000);
    starter.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(handedOver, 1);
    EXPECT_EQ(showRequests, 1);

    TSingleInstance elsewhere(otherHome.path());
    EXPECT_NE(TSingleInstance::ServerName(otherHome.path()), TSingleInstance::ServerName(home.path()));
    EXPECT_TRUE(elsewhere.Claim()) << "another home is another instance";
}

TEST(SingleInstance, WhatACrashedRunLeftBehindDoesNotBlockTheNextStart) {
    ScopedSessionFolders session;
    QTemporaryDir home;
    // A crashed run leaves its lock file and its socket file.
    CrashedRun([&] {
        QLockFile lock(TSingleInstance::LockFileName(home.path()));
        lock.lock();
        QLocalServer server;
        server.listen(TSingleInstance::ServerName(home.path()));
        ::_exit(0);  // no destructor runs, as in a crash
    });
    ASSERT_TRUE(QFile::exists(TSingleInstance::LockFileName(home.path())));
    ASSERT_TRUE(QFile::exists(TSingleInstance::ServerName(home.path())));

    {
        TSingleInstance next(home.path());
        ASSERT_TRUE(next.Claim());
        // It really listens where the dead socket was: a further start
        // reaches it.
        TSingleInstance further(home.path());
        EXPECT_FALSE(further.Claim());
        std::atomic<int> handedOver{-1};
        std::thread starter([&] { handedOver = further.HandOver(3000) ? 1 : 0; });
        apptest::WaitUntil([&] { return handedOver != -1; }, 6000);
        starter.join();
        EXPECT_EQ(handedOver, 1);
    }
    // A clean end leaves neither behind.
    EXPECT_FALSE(QFile::exists(TSingleInstance::LockFileName(home.path())));
    EXPECT_FALSE(QFile::exists(TSingleInstance::ServerName(home.path())));
}

TEST(SingleInstance, HandOverToNobodyGivesUpInTime) {
    ScopedSessionFolders session;
    QTemporaryDir home;
    TSingleInstance lonely(home.path());
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(lonely.HandOver(300));
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST(SingleInstance, WithoutARuntimeFolderTheSocketIsPrivateAndASquatterOnTheOldNameIsNeverAsked) {
    ScopedSessionFolders session;  // puts XDG_RUNTIME_DIR back
    qunsetenv("XDG_RUNTIME_DIR");
    QTemporaryDir home;
    // The name anyone could compute and take first, as earlier versions used.
    const QString oldName = QDir::temp().filePath(QFileInfo(TSingleInstance::ServerName(home.path())).fileName());
    const auto stranger = testsupport::AnotherUser();
    if (!stranger) std::printf("the squatter runs as this user: only root can start one as another\n");
    TSquatter squatter(oldName, stranger);
    ASSERT_TRUE(squatter.Listening());

    TSingleInstance first(home.path());
    ASSERT_TRUE(first.Claim());
    EXPECT_TRUE(first.ChannelProblem().isEmpty()) << first.ChannelProblem().toStdString();
    const QString folder = QFileInfo(first.ListeningName()).absolutePath();
    EXPECT_EQ(plat::CheckFolder(folder.toStdString(), plat::CurrentUserId(), plat::kAnyAccessByOthers),
              plat::TFolderTrust::Trusted);
    int showRequests = 0;
    QObject::connect(&first, &TSingleInstance::showRequested, [&] { ++showRequests; });
    TSingleInstance second(home.path());
    EXPECT_FALSE(second.Claim());
    EXPECT_EQ(HandOverFrom(second, 5000), 1);
    EXPECT_EQ(showRequests, 1) << "the real instance, not the squatter, was asked";
}

TEST(SingleInstance, AnAnswerCountsOnlyFromAProcessOfTheSameUser) {
    ScopedSessionFolders session;
    QTemporaryDir home;
    // A real stranger cannot enter the private folder at all, so trusting
    // another user id plays one.
    TSquatter answering(TSingleInstance::ServerName(home.path()), std::nullopt);
    ASSERT_TRUE(answering.Listening());
    const std::pair<unsigned, bool> cases[] = {{plat::CurrentUserId(), true}, {plat::CurrentUserId() + 1, false}};
    for (const auto& [trusted, handedOver] : cases) {
        TSingleInstance start(home.path());
        start.SetTrustedUser(trusted);
        EXPECT_EQ(start.HandOver(600), handedOver) << "trusting user " << trusted;
    }
}

TEST(SingleInstance, AHomeThatCannotHoldTheLockStillStartsAndIsFoundByItsSocket) {
    ScopedSessionFolders session;
    // Not even root can make a file in a process's /proc folder.
    const QString home = QDir(QStringLiteral("/proc/self")).canonicalPath();
    TSingleInstance first(home);
    ASSERT_TRUE(first.Claim());
    TSingleInstance second(home);
    EXPECT_FALSE(second.Claim());
    EXPECT_EQ(HandOverFrom(second, 3000), 1);
}

TEST(Autostart, TheEntryStartsThisProgramWithThisHomeQuotedForTheExecLine) {
    struct Case {
        const char* program;
        const char* home;
        const char* exec;
    };
    const Case cases[] = {
        {"/usr/bin/quillet", "/home/ann/.local/share/quillet",
         R"(Exec="/usr/bin/quillet" --home "/home/ann/.local/share/quillet")"},
        {"/opt/my apps/quillet", "/home/ann/100% feeds",
         R"(Exec="/opt/my apps/quillet" --home "/home/ann/100%% feeds")"},
        {"/x/quillet", "/home/a\"b$c`d\\e", R"(Exec="/x/quillet" --home "/home/a\\"b\\$c\\`d\\\\e")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.home);
        const QString text = autostart::EntryText(QString::fromUtf8(c.program), QString::fromUtf8(c.home));
        EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.exec) + "\n")) << text.toStdString();
        EXPECT_TRUE(text.contains("Type=Application\n"));
        EXPECT_TRUE(text.contains(QStringLiteral("Icon=%1\n").arg(kAppId)));
    }
    EXPECT_THROW(autostart::EntryText("/usr/bin/quillet", "/home/a\nb"), std::invalid_argument);
}

TEST(Autostart, TheOptionCreatesAndRemovesOnlyItsOwnEntry) {
    ScopedSessionFolders session;
    const QString path = autostart::EntryPath();
    EXPECT_EQ(path, session.Path() + QStringLiteral("/XDG_CONFIG_HOME/autostart/%1.desktop").arg(kAppId));
    QTemporaryDir mine, portable;
    const QString program = QStringLiteral("/usr/bin/quillet");

    autostart::Apply(true, program, mine.path());
    EXPECT_EQ(ReadText(path), autostart::EntryText(program, mine.path()));
    EXPECT_TRUE(autostart::StartsHome(mine.path()));
    // The session reads it with the desktop entry rules.
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        EXPECT_EQ(QProcess::execute(validator, {path}), 0);
    }
    autostart::Apply(true, program, mine.path());  // again: unchanged, no error
    autostart::Apply(false, program, portable.path());
    EXPECT_TRUE(QFile::exists(path)) << "another home's start must not remove this entry";
    autostart::Apply(false, program, mine.path());
    EXPECT_FALSE(QFile::exists(path));
    autostart::Apply(false, program, mine.path());  // nothing there: nothing to do

    // A folder that cannot be written is reported, not ignored.
    qputenv("XDG_CONFIG_HOME", "/proc/quillet-cannot-write-here");
    EXPECT_THROW(autostart::Apply(true, program, mine.path()), std::runtime_error);
}

// The option on the General page takes effect when the dialog applies it,
// for the home the program runs in; the delivered configuration has it off.
TEST(Autostart, TheGeneralPagesOptionWritesAndRemovesTheEntry) {
    ScopedSessionFolders session;
    apptest::TStagedHome home;
    GlobalLanguage().Scan("languages");
    GlobalLanguage().SetLCID(1033);
    TOptions options;
    options.Load(LangFile("struct.xml"), "config.xml");
    EXPECT_EQ(options.GetConfigNode(autostart::kOptionPath).Text(), "False");

    TFormOptions dialog(nullptr, options);
    QCheckBox* startOnLogin = nullptr;
    for (TOptionsPage* page : dialog.OptionsPanel->Pages()) {
        for (const auto& row : page->Rows()) {
            if (row->CaptionLabel()->objectName() == "StartOnLogin")
                startOnLogin = qobject_cast<QCheckBox*>(row->Editor());
        }
    }
    ASSERT_NE(startOnLogin, nullptr);
    EXPECT_EQ(startOnLogin->text(), "Start when I log in");

    startOnLogin->setChecked(true);
    dialog.ApplyBtnClick();
    EXPECT_EQ(options.GetConfigNode(autostart::kOptionPath).Text(), "True");
    EXPECT_TRUE(autostart::StartsHome(QDir::currentPath()));
    EXPECT_TRUE(ReadText(autostart::EntryPath()).contains(QCoreApplication::applicationFilePath()));

    startOnLogin->setChecked(false);
    dialog.OKBtnClick();
    EXPECT_FALSE(QFile::exists(autostart::EntryPath()));
}

namespace {

// A second start's requests reach the running window: OPML import and export
// with their results, an address or file for the Add Feed dialog, and
// "unknown" for anything else.
TEST(SingleInstance, ASecondStartHandsOverAddressesAndOpmlCommands) {
    ScopedSessionFolders session;
    apptest::TStagedHome home;
    TFormMain form;
    form.Updates().Stop();
    TSingleInstance first(QDir::currentPath());
    ASSERT_TRUE(first.Claim());
    first.RequestHandler = [&form](const QByteArray& verb, const QString& argument) {
        return AnswerInstanceRequest(form, verb, argument);
    };
    TSingleInstance second(QDir::currentPath());
    ASSERT_FALSE(second.Claim());
    auto ask = [&second](const char* verb, const std::string& argument) {
        std::optional<QString> answer;
        std::atomic<bool> done{false};
        std::thread starter([&] {
            answer = second.Ask(verb, QString::fromStdString(argument), 5000);
            done = true;
        });
        apptest::WaitUntil([&] { return done.load(); }, 8000);
        starter.join();
        return answer.value_or(QStringLiteral("<no answer>")).toStdString();
    };
    const std::string list = (home.Dir() / "list.opml").string();
    home.WriteFile("list.opml",
                   "<opml version=\"2.0\"><body><outline text=\"Ferries\">"
                   "<outline text=\"A\" xmlUrl=\"http://127.0.0.1:1/a.xml\"/>"
                   "<outline text=\"B\" xmlUrl=\"http://127.0.0.1:1/b.xml\"/></outline></body></opml>");
    struct Row {
        const char* verb;
        std::string argument;
        std::string answer;
    } rows[] = {
        {"import-opml", list, "ok 2 feeds imported, 0 skipped"},
        {"import-opml", list, "ok 0 feeds imported, 2 skipped"},
        {"export-opml", (home.Dir() / "out.opml").string(),
         "ok feeds exported to " + (home.Dir() / "out.opml").string()},
        {"import-opml", (home.Dir() / "missing.opml").string(), "error This is not a valid OPML subscription list"},
        {"add", "", "error no address"},
        {"remove-everything", "", "unknown"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ask(row.verb, row.argument).substr(0, row.answer.size()), row.answer)
            << row.verb << " " << row.argument;
    EXPECT_EQ(form.Tree().FeedNodesUnder(form.Tree().RootNode()).size(), 2u);
    EXPECT_EQ(opml::ReadFile((home.Dir() / "out.opml").string()).size(), 2u);
    // The starred items come from the window's own connection to the base.
    ASSERT_TRUE(apptest::WaitUntil([&] { return form.Items().Store() != nullptr; }, 5000));
    const std::string starred = (home.Dir() / "starred.xml").string();
    EXPECT_EQ(ask("export-starred", starred), "ok 0 starred items exported to " + starred);
    EXPECT_TRUE(std::filesystem::exists(starred));

    // An OPML file handed over as an address is imported too, once the
    // answer has gone.
    home.WriteFile("more.opml",
                   "<opml version=\"2.0\"><body><outline text=\"C\" xmlUrl=\"http://127.0.0.1:1/c.xml\"/>"
                   "</body></opml>");
    EXPECT_EQ(ask("add", (home.Dir() / "more.opml").string()), "ok");
    EXPECT_TRUE(
        apptest::WaitUntil([&] { return form.Tree().FeedNodesUnder(form.Tree().RootNode()).size() == 3u; }, 3000));
}

// Without a running instance the OPML commands work on config.xml itself,
// with no display, and say what they did.
TEST(CommandLineOpml, ImportAndExportWorkOnTheConfigurationWithoutAWindow) {
    apptest::TStagedHome home;
    home.WriteFile("list.opml",
                   "<opml version=\"2.0\"><body><outline text=\"Ferries\">"
                   "<outline text=\"A\" xmlUrl=\"http://127.0.0.1:1/a.xml\"/></outline></body></opml>");
    // A starred item in a base of the home, for the export to find.
    const auto starOne = [&home] {
        auto store = items::TItemStore::Open((home.Dir() / items::TItemStore::kFileName).string()).Store;
        items::TStoredItem item;
        item.Guid = "kept";
        item.Title = "Kept";
        store->RecordDownload("1", {item}, 10);
        store->SetItemStarred("1", "g:kept", true, "Ferries");
    };
    struct Row {
        std::string args;
        int status;
        std::string output;
        std::function<void()> before = {};
    } rows[] = {
        {"--import-opml list.opml", 0, "1 feeds imported, 0 skipped"},
        {"--import-opml=list.opml", 0, "0 feeds imported, 1 skipped"},
        {"--export-opml out.opml", 0, "1 feeds exported to "},
        {"--import-opml nothing.opml", 1, "quillet: \""},
        // A pipe or a device is never replaced by a file.
        {"--export-opml pipe", 1, "it is not a regular file"},
        {"--export-starred none.xml", 0, "0 starred items exported to "},
        {"--export-starred pipe", 1, "it is not a regular file"},
        {"--export-starred starred.xml", 0, "1 starred item exported to ", starOne},
    };
    ASSERT_EQ(::mkfifo((home.Dir() / "pipe").c_str(), 0600), 0);
    for (const Row& row : rows) {
        if (row.before) row.before();
        const std::string command =
            "cd '" + home.Dir().string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
            QUILLET_PROGRAM_PATH + "' --home '" + home.Dir().string() + "' " + row.args + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
        const int status = pclose(pipe);
        EXPECT_EQ(WEXITSTATUS(status), row.status) << row.args << ": " << output;
        EXPECT_NE(output.find(row.output), std::string::npos) << row.args << ": " << output;
    }
    xml::Document config;
    config.LoadFromFile((home.Dir() / "config.xml").string());
    const xml::Node items =
        config.DocumentElement().ChildByName("internal").ChildByName("feedlist").ChildByName("items");
    ASSERT_EQ(items.ChildElements().size(), 1u);
    EXPECT_EQ(items.ChildElements()[0].Name(), "folder");
    EXPECT_EQ(items.ChildElements()[0].Attribute("caption"), "Ferries");
    EXPECT_EQ(opml::ReadFile((home.Dir() / "out.opml").string()).at(0).folders, (std::vector<std::string>{"Ferries"}));
    EXPECT_TRUE(std::filesystem::is_fifo(home.Dir() / "pipe"));
}

}  // namespace
