// Replacing a file keeps its mode and writes a link through to its target.
// (The settings and stored copies are checked the same way in the app's
// autosave tests.)
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "AtomicFile.h"
#include "Isolation.h"
#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& file) {
    std::stringstream buffer;
    buffer << std::ifstream(file, std::ios::binary).rdbuf();
    return buffer.str();
}

unsigned ModeOf(const fs::path& file) { return static_cast<unsigned>(fs::status(file).permissions()); }

}  // namespace

TEST(AtomicFile, AReplacedFileKeepsItsModeAndANewOneFollowsTheUmask) {
    // umask, mode of the file replaced (0: none yet), mode after the write
    const unsigned cases[][3] = {{022, 0, 0644},    {077, 0, 0600},    {002, 0, 0664},
                                 {022, 0600, 0600}, {077, 0644, 0644}, {077, 0640, 0640}};
    testsupport::TempFolder temp;
    const fs::path file = temp.File("config.xml");
    for (const auto& [mask, before, after] : cases) {
        SCOPED_TRACE(std::to_string(mask) + " " + std::to_string(before));
        fs::remove(file);
        if (before) {
            std::ofstream(file) << "old";
            fs::permissions(file, fs::perms(before));
        }
        testsupport::ScopedUmask scoped(mask);
        plat::WriteFileAtomically(file.string(), "new");
        EXPECT_EQ(ModeOf(file), after);
        EXPECT_EQ(std::distance(fs::directory_iterator(temp.Path()), fs::directory_iterator()), 1)
            << "a temporary file was left";
    }
}

TEST(AtomicFile, ALinkChainIsFollowedToItsEndAndALoopIsRefused) {
    testsupport::TempFolder temp;
    const fs::path home = temp.File("home"), real = temp.File("dotfiles/quillet/config.xml");
    fs::create_directories(home);
    fs::create_directories(real.parent_path());
    // home/config.xml -> ../dotfiles/current (relative) -> the real file
    fs::create_symlink("../dotfiles/current", home / "config.xml");
    fs::create_symlink(real, temp.File("dotfiles/current"));
    for (const char* text : {"made where a dangling link points", "replaced through the links"}) {
        plat::WriteFileAtomically((home / "config.xml").string(), text);
        EXPECT_EQ(Read(real), text);
        EXPECT_TRUE(fs::is_symlink(home / "config.xml") && fs::is_symlink(temp.File("dotfiles/current")));
    }
    fs::create_symlink("b", home / "a");
    fs::create_symlink("a", home / "b");
    EXPECT_THROW(plat::WriteFileAtomically((home / "a").string(), "x"), std::runtime_error);
    EXPECT_EQ(std::distance(fs::directory_iterator(home), fs::directory_iterator()), 3);
}

// A rename over a device, a pipe or a socket would put a plain file in its
// place (as root even of /dev/full): only a regular file is replaced, also
// at the end of a link.
TEST(AtomicFile, ANodeThatIsNoRegularFileIsRefusedAndLeftAsItIs) {
    testsupport::TempFolder temp;
    const fs::path fifo = temp.File("fifo"), socket = temp.File("socket"), folder = temp.File("folder"),
                   link = temp.File("link-to-fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fs::create_directory(folder);
    fs::create_symlink(fifo, link);
    for (const fs::path& target : {fifo, socket, folder, link}) {
        SCOPED_TRACE(target.string());
        const fs::file_type before = fs::status(target).type();
        try {
            plat::WriteFileAtomically(target.string(), "new");
            ADD_FAILURE() << "replaced";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("not a regular file"), std::string::npos) << error.what();
        }
        EXPECT_EQ(fs::status(target).type(), before);
    }
    ::close(listener);
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.Path()), fs::directory_iterator()), 4)
        << "a temporary file was left";
}
