// Signing in to a feed server before an account is kept: what each kind of
// failure tells the user, the API address found from a site's, and a check
// that can be cancelled while the server says nothing.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <optional>
#include <string>
#include <vector>

#include "../../sync/FakeReader.h"
#include "AppTestSupport.h"
#include "FixtureFile.h"
#include "LoopbackServer.h"
#include "SignInCheck.h"
#include "TempFolder.h"

namespace {

using greader::TSyncErrorKind;

TEST(AccountSignIn, EachOutcomeGivesItsBaseOrItsPlainMessage) {
    testsupport::LoopbackServer server;
    synctest::AddSignIn(server);
    // A web site where the API should be: a page, not a sign-in answer.
    server.AddEndpoint("/blog/accounts/ClientLogin", 200, {{"Content-Type", "text/html"}},
                       testsupport::ReadFixtureFile(QUILLET_TEST_DATA_DIR "/accounts/not_an_api.html"));
    server.AddEndpoint("/blog/api/greader.php/accounts/ClientLogin", 404, {}, "Not here");
    server.AddEndpoint("/busy/accounts/ClientLogin", 503, {}, "Maintenance");
    const std::string api = server.Url(synctest::kApi);
    const std::string site = server.Url("");
    const std::string refused = "http://127.0.0.1:" + std::to_string(testsupport::UnusedLoopbackPort()) + "/api";

    struct Case {
        std::string Address, User, Password;
        std::optional<TSyncErrorKind> Kind;  // nullopt: signed in
        std::string BaseOrMessage;           // the base, or a part of the message
    } cases[] = {
        {api, "alice", "secret", std::nullopt, api},
        {api + "/", "alice", "secret", std::nullopt, api},
        // A site's address: FreshRSS's API path is tried below it.
        {site, "alice", "secret", std::nullopt, site + synctest::kApi},
        {api, "alice", "wrong", TSyncErrorKind::WrongPassword, "refused the user name or the password"},
        {site, "mallory", "secret", TSyncErrorKind::WrongPassword, "refused the user name or the password"},
        {server.Url("/blog"), "alice", "secret", TSyncErrorKind::NotGoogleReader,
         "does not answer as a Google Reader API"},
        {refused, "alice", "secret", TSyncErrorKind::Unreachable, "cannot be reached"},
        {server.Url("/busy"), "alice", "secret", TSyncErrorKind::Server, "has trouble"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Address + " " + c.User + "/" + c.Password);
        const TSignInResult result = CheckSignIn(c.Address, c.User, c.Password);
        EXPECT_EQ(result.Ok, !c.Kind.has_value()) << result.Message.toStdString();
        EXPECT_EQ(result.Kind, c.Kind) << result.Detail;
        if (result.Ok) {
            EXPECT_EQ(result.Base, c.BaseOrMessage);
        } else {
            EXPECT_NE(result.Message.toStdString().find(c.BaseOrMessage), std::string::npos)
                << result.Message.toStdString();
            // The user recognises the address typed.
            EXPECT_NE(result.Message.toStdString().find(c.Address), std::string::npos);
        }
    }
    // The password travels in the POST body, never in an address.
    for (const testsupport::Request& request : server.Requests())
        EXPECT_EQ(request.target.find("secret"), std::string::npos) << request.target;
}

TEST(AccountSignIn, ACheckRunsBesideTheWindowAndCancelStopsIt) {
    testsupport::LoopbackServer server;
    testsupport::Response silent;
    silent.fault = testsupport::Fault::NeverAnswer;
    server.AddEndpoint("/api/greader.php/accounts/ClientLogin", silent);
    TSignInCheck check;
    std::vector<TSignInResult> finished;
    QObject::connect(&check, &TSignInCheck::finished, [&](const TSignInResult& result) { finished.push_back(result); });
    QElapsedTimer clock;
    clock.start();
    check.Start(QString::fromStdString(server.Url("/api/greader.php")), "alice", "secret");
    // Start returns at once; the event loop goes on while the server waits.
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_TRUE(check.Running());
    ASSERT_TRUE(apptest::WaitUntil([&] { return server.NumHits("/api/greader.php/accounts/ClientLogin") == 1; }, 5000));
    check.Cancel();
    ASSERT_TRUE(apptest::WaitUntil([&] { return finished.size() == 1; }, 5000));
    const TSignInResult& result = finished.front();
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.Kind, TSyncErrorKind::Cancelled);
    EXPECT_FALSE(check.Running());
}

}  // namespace
