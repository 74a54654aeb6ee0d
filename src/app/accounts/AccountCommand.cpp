#include "AccountCommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <exception>
#include <string>

#include "AccountSetup.h"
#include "AccountText.h"
#include "CommandLine.h"
#include "FeedList.h"
#include "FeedListXml.h"
#include "Home.h"
#include "Options.h"
#include "PasswordVault.h"
#include "SignInCheck.h"
#include "SingleInstance.h"
#include "Terminal.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "quillet: %s\n", message.c_str());
    return 1;
}

// No instance runs: the account goes into config.xml itself. The password
// is kept first, so that a failure leaves the configuration as it was.
int AddWithoutWindow(const TSignInResult& signIn, const std::string& user, const std::string& password) {
    TOptions options;
    xml::Document& config = options.ConfigDocument();
    try {
        TOptions::EnsureConfigFile("config.xml", "config.default.xml");
        config.LoadFromFile("config.xml");
    } catch (const std::exception& error) {
        config.SetModified(false);
        config.SetAutoSave(false);
        return Fail("the settings file \"" + (std::filesystem::current_path() / "config.xml").string() +
                    "\" cannot be read: " + error.what());
    }
    config.SetAutoSave(false);
    feedlist::TFeedList list;
    feedlist::TStoredFeedList stored(list, options.GetConfigNode(feedlist::kItemsPath),
                                     options.GetConfigNode(feedlist::kCounterPath));
    stored.Load();
    if (const auto existing = accountsetup::FindAccount(list, signIn.Base, user))
        return Fail("this account is already in the list as \"" + existing->Caption + "\"");
    const accountlist::TAccountRecord record = accountsetup::NewRecord(list, signIn.Base, user, {});

    TPasswordVault vault;
    QObject::connect(&vault, &TPasswordVault::storeWaiting,
                     [](const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); });
    const TVaultResult kept = vault.WriteNow(QString::fromStdString(record.Id), QString::fromStdString(password));
    if (!kept.Ok) return Fail("the password cannot be kept: " + kept.Error.toStdString());
    try {
        accountlist::AddAccount(list, record);
        config.Save();
    } catch (const std::exception& error) {
        vault.RemoveNow(QString::fromStdString(record.Id));
        return Fail(std::string("config.xml cannot be saved: ") + error.what());
    }
    std::printf("account %s added (%s)\n", record.Id.c_str(), signIn.Base.c_str());
    const std::filesystem::path file = vault.SecretFile(QString::fromStdString(record.Id)).toStdString();
    if (kept.Place == TVaultPlace::File)
        std::printf("the password is kept in %s, readable only by you, because no secret store answered\n",
                    (std::filesystem::current_path() / file).c_str());
    else
        std::printf("the password is kept in the desktop's secret store\n");
    return 0;
}

}  // namespace

int RunAddAccount(int argc, char* argv[], const TCommandLine& commandLine) {
    const std::optional<std::string> password = plat::ReadSecretLine("API password: ");
    if (!password || password->empty()) return Fail("no password: give the API password as one line on standard input");
    try {
        plat::EnterHome(plat::THomeEnvironment::FromProcess(argc, argv));
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
    QCoreApplication app(argc, argv);
    const std::string& user = *commandLine.User;
    const TSignInResult signIn = CheckSignIn(*commandLine.AddAccount, user, *password);
    if (!signIn.Ok) return Fail(signIn.Message.toStdString());
    if (TravelsReadable(QString::fromStdString(signIn.Base)))
        std::fprintf(stderr, "quillet: warning: %s\n", PlainHttpWarning().toStdString().c_str());

    TSingleInstance instance(QDir::currentPath());
    if (instance.Claim()) return AddWithoutWindow(signIn, user, *password);
    // The channel is this user's alone (both ends check the peer), so the
    // password may cross it.
    QJsonObject request;
    request.insert(QStringLiteral("base"), QString::fromStdString(signIn.Base));
    request.insert(QStringLiteral("user"), QString::fromStdString(user));
    request.insert(QStringLiteral("password"), QString::fromStdString(*password));
    const std::optional<QString> answer =
        instance.Ask("add-account", QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)), 30000);
    if (!answer) return Fail("the running Quillet did not answer");
    const QString text = answer->section(' ', 1);
    if (!answer->startsWith(QStringLiteral("ok"))) return Fail(text.toStdString());
    std::printf("%s\n", qPrintable(text));
    return 0;
}
