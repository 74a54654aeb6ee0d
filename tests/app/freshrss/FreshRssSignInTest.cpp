// The sign-in check against a real FreshRSS: its API address, the site's
// address it is found from, and a wrong API password. One server for the
// suite (it takes seconds to install), so CTest runs it as one test.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "FreshRss.h"
#include "SignInCheck.h"
#include "TempFolder.h"

namespace {

TEST(FreshRssSignIn, TheApiTheSiteAndAWrongPassword) {
    std::string why;
    if (!synctest::FreshRss::Available(why)) GTEST_SKIP() << why;
    testsupport::TempFolder folder("quillet-freshrss-signin");
    const std::string opml = folder.File("feeds.opml");
    std::ofstream(opml) << "<?xml version=\"1.0\"?><opml version=\"2.0\"><head><title>t</title></head><body/></opml>";
    synctest::FreshRss server(folder.File("server"), opml);
    const std::string api = server.ApiUrl();
    const std::string site = api.substr(0, api.rfind("/api/greader.php"));

    struct Case {
        std::string Address, Password;
        bool Ok;
        std::string BaseOrMessage;
    } cases[] = {
        {api, synctest::FreshRss::kPassword, true, api},
        {site, synctest::FreshRss::kPassword, true, api},
        {api, "not-the-api-password", false, "refused the user name or the password"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Address);
        const TSignInResult result = CheckSignIn(c.Address, synctest::FreshRss::kUser, c.Password);
        ASSERT_EQ(result.Ok, c.Ok) << result.Message.toStdString();
        if (c.Ok)
            EXPECT_EQ(result.Base, c.BaseOrMessage);
        else
            EXPECT_NE(result.Message.toStdString().find(c.BaseOrMessage), std::string::npos);
    }
}

}  // namespace
