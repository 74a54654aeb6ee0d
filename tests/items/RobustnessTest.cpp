#include <csignal>
#include <functional>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unistd.h>

#include "ItemSchema.h"
#include "ItemTestSupport.h"

using namespace items;
using itemtest::Item;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAt(const std::string& path, std::streamoff offset, const std::string& bytes) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(offset);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void RunSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

std::vector<TStoredItem> Batch(int from, int count) {
    std::vector<TStoredItem> batch;
    for (int i = from; i < from + count; ++i) {
        batch.push_back(Item("id" + std::to_string(i), "http://x/" + std::to_string(i), "Item " + std::to_string(i), i,
                             std::string(300, 'a' + i % 26)));
    }
    return batch;
}

}  // namespace

class Robustness : public itemtest::StoreTest {
protected:
    // A base of several pages, closed so that everything is in the main file.
    void MakeFilledBase() {
        Store().RecordDownload("1", Batch(0, 200), 10);
        store.reset();
    }
    TOpenResult Reopen() { return TItemStore::Open(DbPath(), options); }
};

TEST_F(Robustness, DamagedBaseIsSetAsideAndANewOneStarted) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> damage;
    };
    const std::vector<Case> cases = {
        {"garbage", [](const std::string& p) { std::ofstream(p, std::ios::binary) << std::string(8192, 'x'); }},
        {"truncated", [](const std::string& p) { fs::resize_file(p, fs::file_size(p) / 3); }},
        {"pages overwritten", [](const std::string& p) { WriteAt(p, 3 * 4096 + 100, std::string(6000, '\x5a')); }},
        {"header overwritten", [](const std::string& p) { WriteAt(p, 0, "SQLite format 2"); }},
        {"schema it cannot use",
         [](const std::string& p) {
             RunSql(p,
                    "DROP INDEX items_by_key; DROP TABLE items; "
                    "CREATE TABLE items(x)");
         }},
        {"newer schema", [](const std::string& p) { RunSql(p, "PRAGMA user_version = 42"); }},
    };
    for (const Case& c : cases) {
        for (const auto& entry : fs::directory_iterator(folder.Path())) fs::remove(entry.path());
        MakeFilledBase();
        c.damage(DbPath());
        const std::string damaged = ReadFile(DbPath());
        TOpenResult opened = Reopen();
        ASSERT_TRUE(opened.Store) << c.name << ": " << opened.Message;
        EXPECT_NE(opened.Message, "") << c.name;
        EXPECT_EQ(ReadFile(opened.SetAsidePath), damaged) << c.name << ": the damaged base is kept as it was";
        EXPECT_EQ(opened.Store->CheckIntegrity(), "ok") << c.name;
        EXPECT_EQ(opened.Store->SeedFromItems("1", Batch(0, 3), 20), 3) << c.name;
        EXPECT_EQ(opened.Store->RecordDownload("1", Batch(0, 4), 30).NewCount, 1) << c.name;
    }
}

TEST_F(Robustness, FailuresThatAreNotDamageLeaveTheBaseAlone) {
    const TOpenResult opened = TItemStore::Open(folder.File("missing/items.db"), options);
    EXPECT_FALSE(opened.Store);
    EXPECT_NE(opened.Message, "");
    EXPECT_EQ(opened.SetAsidePath, "");
}

TEST_F(Robustness, OlderSchemaIsUpgradedInPlace) {
    RunSql(DbPath(), ReadFile(ITEMS_TEST_DATA "/schema_v1_with_items.sql"));
    EXPECT_EQ(Store().UnreadCounts(), (std::map<std::string, int>{{"1", 1}, {"7", 1}}));
    EXPECT_EQ(Store().Search("words", 10).size(), 2u) << "the index is built from the stored items";
    EXPECT_EQ(Store().Pending("acct").size(), 1u);
    const TStoredItem second = Item("other-guid", "https://example.org/2/", "Second post", 2000);
    EXPECT_EQ(Store().RecordDownload("1", {second, Item("three", "", "Third")}, 6000).NewCount, 1);

    // The next version is one more function; a step that fails leaves the
    // base at the version before it.
    store.reset();
    sql::TConnection connection(DbPath());
    schema::RegisterFunctions(connection);
    std::vector<schema::TMigration> steps = schema::Migrations();
    steps.push_back([](sql::TConnection& c) {
        c.Exec("ALTER TABLE items ADD COLUMN starred INTEGER");
        c.Exec("SELECT nope");
    });
    EXPECT_THROW(schema::Upgrade(connection, steps), schema::TSchemaError);
    EXPECT_EQ(connection.QueryInt("PRAGMA user_version"), schema::CurrentVersion());
    steps.back() = [](sql::TConnection& c) { c.Exec("ALTER TABLE items ADD COLUMN starred INTEGER DEFAULT 0"); };
    schema::Upgrade(connection, steps);
    EXPECT_EQ(connection.QueryInt("PRAGMA user_version"), schema::CurrentVersion() + 1);
    EXPECT_EQ(connection.QueryInt("SELECT count(*) FROM items WHERE starred = 0"), 4);
}

// Downloads of ten new items each, killed at random moments: the base is
// whole and holds whole downloads only.
TEST_F(Robustness, KillDuringWritesLosesNoCommittedDownload) {
    constexpr int kBatch = 10;
    std::mt19937 random(12345);
    for (int round = 0; round < 5; ++round) {
        // The writer says when its first download is in, so that a loaded
        // machine's slow start is not taken for a lost download.
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(started[0]);
            TOpenResult opened = TItemStore::Open(DbPath(), options);
            if (!opened.Store) _exit(2);
            for (int n = 0;; ++n) {
                opened.Store->RecordDownload(std::to_string(n % 7), Batch(round * 1000000 + n * kBatch, kBatch), n);
                if (n == 0 && (write(started[1], "1", 1) != 1 || close(started[1]) != 0)) _exit(3);
            }
        }
        close(started[1]);
        char first = 0;
        const bool writing = read(started[0], &first, 1) == 1;
        close(started[0]);
        if (writing) usleep(random() % 150000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself";
        TOpenResult opened = Reopen();
        ASSERT_TRUE(opened.Store);
        EXPECT_EQ(opened.Message, "") << "round " << round;
        EXPECT_EQ(opened.Store->CheckIntegrity(), "ok");
        EXPECT_EQ(opened.Store->TotalItemCount() % kBatch, 0);
        EXPECT_GT(opened.Store->TotalItemCount(), 0);
        EXPECT_EQ(opened.Store->Search("item", 100000).size(), static_cast<std::size_t>(opened.Store->TotalItemCount()))
            << "the index holds the same whole downloads";
    }
}
