// Secure feeds against a real TLS server: `openssl s_server` with a
// certificate made for the occasion, listening on 127.0.0.1.
#include "HttpClient.h"
#include "LoopbackServer.h"
#include "TempFolder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool CanConnect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

class SecureFeeds : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v openssl >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "the openssl command-line tool is not installed";

        char pattern[] = "/tmp/quillet-tls-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        FDir = pattern;
        FCertificate = (FDir / "cert.pem").string();
        const std::string key = (FDir / "key.pem").string();
        const std::string make =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
            " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
            " -keyout " +
            key + " -out " + FCertificate + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(make.c_str()), 0) << "could not make a certificate";

        FPort = testsupport::UnusedLoopbackPort();
        const std::string accept = "127.0.0.1:" + std::to_string(FPort);
        FServer = fork();
        ASSERT_GE(FServer, 0);
        if (FServer == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execlp("openssl", "openssl", "s_server", "-accept", accept.c_str(), "-cert", FCertificate.c_str(), "-key",
                   key.c_str(), "-www", static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!CanConnect(FPort)) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "openssl s_server did not start";
            std::this_thread::sleep_for(20ms);
        }
    }

    void TearDown() override {
        if (FServer > 0) {
            kill(FServer, SIGTERM);
            waitpid(FServer, nullptr, 0);
        }
        if (!FDir.empty()) fs::remove_all(FDir);
    }

    std::string Url() const { return "https://127.0.0.1:" + std::to_string(FPort) + "/"; }

    fs::path FDir;
    std::string FCertificate;
    int FPort = 0;
    pid_t FServer = -1;
};

}  // namespace

TEST_F(SecureFeeds, SelfSignedCertificateFailsVerification) {
    http::THttpClient client({.secureFeeds = true});
    try {
        client.Get(Url());
        FAIL() << "an unverifiable certificate was accepted";
    } catch (const http::HttpError& error) {
        EXPECT_EQ(error.StatusCode(), 0);
        EXPECT_NE(std::string(error.what()).find("SSL certificate problem"), std::string::npos) << error.what();
    }
}

TEST_F(SecureFeeds, TrustedCertificateGivesTheBodyOverTls) {
    http::THttpClient client({.secureFeeds = true});
    client.SetCertificateAuthorityFile(FCertificate);
    // s_server -www answers with a page describing the TLS session.
    const std::string body = client.Get(Url());
    EXPECT_NE(body.find("TLS"), std::string::npos) << body.substr(0, 200);
}

TEST_F(SecureFeeds, RedirectFromHttpToHttpsIsFollowedWhenBothAreOn) {
    testsupport::LoopbackServer server;
    server.AddEndpoint("/feed", 301, {{"Location", Url()}}, "");
    http::THttpClient client({.secureFeeds = true, .followRedirects = true});
    client.SetCertificateAuthorityFile(FCertificate);
    EXPECT_NE(client.Get(server.Url("/feed")).find("TLS"), std::string::npos);
}

TEST_F(SecureFeeds, CertificateForAnotherNameIsACertificateFailure) {
    // The certificate is trusted but made for 127.0.0.1, not for localhost.
    http::THttpClient client({.secureFeeds = true});
    client.SetCertificateAuthorityFile(FCertificate);
    try {
        client.Get("https://localhost:" + std::to_string(FPort) + "/");
        FAIL() << "a certificate for another name was accepted";
    } catch (const http::HttpError& error) {
        EXPECT_EQ(error.Cause(), http::NetworkCause::Certificate) << error.what();
    }
}
