// A Google Reader API server in miniature on the loopback server: sign-in,
// token and the paths a test registers, each answer chosen by the test.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "LoopbackServer.h"

namespace synctest {

inline constexpr const char* kApi = "/api/greader.php";
inline constexpr const char* kAuth = "alice/0123456789";

// Registers ClientLogin (alice with one of the passwords, else 401) and the
// action token.
inline void AddSignIn(testsupport::LoopbackServer& server, std::vector<std::string> passwords = {"secret"}) {
    server.AddHandler(std::string(kApi) + "/accounts/ClientLogin", [passwords](const testsupport::Request& request) {
        testsupport::Response response;
        const std::string typed = request.FormValue("Passwd");
        if (request.FormValue("Email") == "alice" &&
            std::find(passwords.begin(), passwords.end(), typed) != passwords.end()) {
            response.body = std::string("SID=") + kAuth + "\nLSID=null\nAuth=" + kAuth + "\n";
        } else {
            response.statusLine = testsupport::StatusLine(401);
            response.body = "Unauthorized!";
        }
        return response;
    });
    server.AddEndpoint(std::string(kApi) + "/reader/api/0/token", 200, {}, "TOKEN1\n");
}

inline std::string ApiPath(const std::string& rest) { return std::string(kApi) + "/reader/api/0/" + rest; }

}  // namespace synctest
