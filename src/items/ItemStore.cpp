#include "ItemStore.h"

#include <sqlite3.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "AtomicFile.h"
#include "ItemIdentity.h"
#include "ItemSchema.h"
#include "Sqlite.h"

namespace items {

namespace fs = std::filesystem;
using sql::TSqliteError;
using sql::TStatement;
using sql::TStatementUse;

namespace {

// The base cannot be used as it is and should be set aside.
class TDamage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool IsDamage(const TSqliteError& e) { return e.Code() == SQLITE_CORRUPT || e.Code() == SQLITE_NOTADB; }

void Configure(sql::TConnection& c, const TStoreOptions& options) {
    c.Exec("PRAGMA busy_timeout = " + std::to_string(options.BusyTimeoutMs));
    schema::RegisterFunctions(c);
    // Rows hold whole bodies: larger pages waste less of each page. Only a
    // new, empty base takes it.
    c.Exec("PRAGMA page_size = 8192");
    // Reading the journal mode is the first read of the file: a file that
    // is no database fails here.
    if (c.QueryText("PRAGMA journal_mode = WAL") != "wal") throw TDamage("the base cannot use a write-ahead log");
    c.Exec("PRAGMA synchronous = NORMAL");
}

// Moves the base and its log aside under one free name; returns that name.
std::string SetAside(const std::string& path) {
    const std::string aside = plat::SetAsideDamaged(path);
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        std::error_code ignored;
        if (fs::exists(path + suffix, ignored)) fs::rename(path + suffix, aside + suffix, ignored);
    }
    return aside;
}

// A code point the full-text tokenizer takes as a separator: ASCII other
// than letters and digits, and the punctuation and symbol blocks (quotes,
// dashes, arrows, CJK punctuation, emoji).
bool IsSeparator(char32_t c) {
    if (c < 0x80) return !std::isalnum(static_cast<int>(c));
    return (c >= 0xA0 && c <= 0xBF) || c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x2BFF) ||
           (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF0F) ||
           (c >= 0xFF1A && c <= 0xFF20) || (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65) ||
           (c >= 0x1F000 && c <= 0x1FAFF);
}

// The words of user text as the index holds them, so each becomes one
// quoted token and no operator, bracket or column filter can be spelled.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) c = (c << 6) | (text[i + k] & 0x3F);
        if (IsSeparator(c)) {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word.append(text, i, length);
        }
        i += length;
    }
    if (!word.empty()) words.push_back(std::move(word));
    constexpr std::size_t kMaxWords = 16;
    if (words.size() > kMaxWords) words.erase(words.begin(), words.end() - kMaxWords);
    return words;
}

// Every word required, the last also as a prefix (results as one types).
std::string FullTextQuery(const std::vector<std::string>& words) {
    std::string query;
    for (const std::string& word : words) {
        if (!query.empty()) query += ' ';
        query += '"' + word + '"';
    }
    return query + "*";
}

std::string LikePattern(const std::string& word) {
    std::string pattern = "%";
    for (char c : word) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern + "%";
}

// Each half on its own: a feed without dates still has titles to agree on
// (TitleDateKey alone is empty for it), one that retitles still has dates.
bool SameTitleOrDate(const TStoredItem& item, const TStoredItem& row) {
    auto titleOf = [](TStoredItem t) {
        t.DateUTC.reset();
        t.DateText = "-";
        const std::string key = TitleDateKey(t);
        return key.substr(0, key.find('\x1f'));
    };
    auto dateOf = [](TStoredItem t) {
        t.Title = "-";
        const std::string key = TitleDateKey(t);
        return key.empty() ? key : key.substr(key.find('\x1f') + 1);
    };
    const std::string ta = titleOf(item), tb = titleOf(row);
    if (!ta.empty() && ta == tb) return true;
    const std::string da = dateOf(item), db = dateOf(row);
    return !da.empty() && da == db;
}

// The article states as the base keeps them; None has no row.
const char* StateCode(TArticleState state) {
    switch (state) {
        case TArticleState::Fetched:
            return "fetched";
        case TArticleState::Failed:
            return "failed";
        case TArticleState::KeptSummary:
            return "kept-summary";
        case TArticleState::None:
            break;
    }
    return "";
}

// A state a later version wrote reads as a failure: tried again, never shown.
TArticleState StateFromCode(const std::string& code) {
    if (code == "fetched") return TArticleState::Fetched;
    if (code == "kept-summary") return TArticleState::KeptSummary;
    return TArticleState::Failed;
}

}  // namespace

struct TItemStore::TImpl {
    std::string Path;
    TStoreOptions Options;
    sql::TConnection Connection;
    bool FullText = false;
    // The base has the word index, whether or not this store searches it:
    // rows added must be indexed all the same.
    bool Indexed = false;
    std::unordered_map<std::string_view, std::unique_ptr<TStatement>> Statements;

    TImpl(const std::string& path, const TStoreOptions& options) : Path(path), Options(options), Connection(path) {}
    ~TImpl() {
        if (Checkpointer.joinable()) Checkpointer.join();
    }

    // The log is copied back into the base beside this connection's
    // commits, not in them: a star or a mark the user waits for must not
    // pay for a checkpoint that its commit happened to cross. SQLite's own
    // checkpoint would run in the commit, on the window's thread.
    void CheckpointAside() {
        if (Checkpointing.exchange(true)) return;
        if (Checkpointer.joinable()) Checkpointer.join();  // the last one has ended
        Checkpointer = std::thread([this] {
            try {
                sql::TConnection aside(Path);
                aside.QueryText("PRAGMA wal_checkpoint(PASSIVE)");
            } catch (const std::exception&) {
                // The next commit past the mark tries again.
            }
            Checkpointing = false;
        });
    }
    static int WalCommitted(void* impl, sqlite3*, const char*, int pages) {
        if (pages >= kCheckpointPages) static_cast<TImpl*>(impl)->CheckpointAside();
        return SQLITE_OK;
    }
    static constexpr int kCheckpointPages = 1000;  // SQLite's own mark
    std::atomic<bool> Checkpointing{false};
    std::thread Checkpointer;

    // Statements are prepared on first use and kept: `sql` is a literal.
    TStatement& Prepared(std::string_view sql) {
        auto& slot = Statements[sql];
        if (!slot) slot = std::make_unique<TStatement>(Connection.Handle(), sql);
        return *slot;
    }

    struct TFound {
        TItemId Id;
        bool Present;  // in the feed's previous download
    };
    std::optional<TFound> FindByKey(const std::string& feedId, const std::string& key) {
        TStatementUse s(Prepared("SELECT id, left_at IS NULL FROM items WHERE feed = ?1 AND key = ?2"));
        s->Bind(1, feedId).Bind(2, key);
        if (s->Step()) return TFound{s->Int(0), s->Int(1) != 0};
        return std::nullopt;
    }

    // Rows whose candidate hash matches, with what it was computed from.
    std::vector<std::pair<TItemId, TStoredItem>> Candidates(std::string_view sql, const std::string& feedId,
                                                            std::int64_t hash) {
        std::vector<std::pair<TItemId, TStoredItem>> found;
        TStatementUse s(Prepared(sql));
        s->Bind(1, feedId).Bind(2, hash);
        while (s->Step()) {
            TStoredItem row;
            row.Link = s->Text(1);
            row.Title = s->Text(2);
            row.DateText = s->Text(3);
            if (!s->IsNull(4)) row.DateUTC = s->Int(4);
            found.emplace_back(s->Int(0), std::move(row));
        }
        return found;
    }

    // A row of the feed's previous download as it is stored.
    struct TPresentRow {
        TItemId Id = 0;
        std::int64_t LinkHash = 0;
        std::int64_t TitleDateHash = 0;
        TStoredItem Item;
    };
    // The feed's previous download, by key: most downloads repeat it, and
    // one read of it spares a lookup and an update for every item that
    // comes back unchanged.
    std::unordered_map<std::string, TPresentRow> PresentRows(const std::string& feedId) {
        TStatementUse s(
            Prepared("SELECT id, key, link_hash, title_date_hash, guid, link, title, date_text, date_utc, author, body "
                     "FROM items WHERE feed = ?1 AND left_at IS NULL"));
        s->Bind(1, feedId);
        std::unordered_map<std::string, TPresentRow> rows;
        while (s->Step()) {
            TPresentRow row;
            row.Id = s->Int(0);
            row.LinkHash = s->IsNull(2) ? 0 : s->Int(2);
            row.TitleDateHash = s->IsNull(3) ? 0 : s->Int(3);
            row.Item.Guid = s->Text(4);
            row.Item.Link = s->Text(5);
            row.Item.Title = s->Text(6);
            row.Item.DateText = s->Text(7);
            if (!s->IsNull(8)) row.Item.DateUTC = s->Int(8);
            row.Item.Author = s->Text(9);
            row.Item.Body = s->Text(10);
            rows.emplace(s->Text(1), std::move(row));
        }
        return rows;
    }

    // What Refresh would write is already there.
    static bool Unchanged(const TPresentRow& row, const TStoredItem& item, const std::string& link,
                          const std::string& titleDate) {
        return row.Item.Guid == item.Guid && row.Item.Link == item.Link && row.Item.Title == item.Title &&
               row.Item.DateText == item.DateText && row.Item.DateUTC == item.DateUTC &&
               row.Item.Author == item.Author && row.Item.Body == item.Body && row.LinkHash == IdentityHash(link) &&
               row.TitleDateHash == IdentityHash(titleDate);
    }

    void SetLeftAt(TItemId id, std::optional<std::int64_t> leftAt) {
        TStatementUse s(Prepared("UPDATE items SET left_at = ?2 WHERE id = ?1"));
        s->Bind(1, id).Bind(2, leftAt);
        s->Run();
    }

    TItemId Insert(const std::string& feedId, const TStoredItem& item, const std::string& key, std::int64_t now,
                   bool read) {
        TStatementUse s(Prepared(
            "INSERT INTO items(feed, key, link_hash, title_date_hash, guid, link, title, date_text, date_utc, author, "
            "body, first_seen) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"));
        BindItem(*s, feedId, item, key);
        s->Bind(12, now);
        s->Run();
        const TItemId id = sqlite3_last_insert_rowid(Connection.Handle());
        if (!read) MarkUnread(id);
        return id;
    }

    // New rows wait for the word index, which takes them a batch at a
    // time (see ItemSchema.cpp): a batch costs about what one download's
    // rows cost on their own.
    static constexpr std::int64_t kIndexBatch = 256;
    void IndexNewRows(const std::vector<TItemId>& ids) {
        if (!Indexed || ids.empty()) return;
        std::string list = "[";
        for (TItemId id : ids) list += (list.size() > 1 ? "," : "") + std::to_string(id);
        list += "]";
        {
            TStatementUse s(Prepared("INSERT OR IGNORE INTO items_fts_pending(id) SELECT value FROM json_each(?1)"));
            s->Bind(1, list);
            s->Run();
        }
        if (WaitingRows() >= kIndexBatch) IndexWaitingRows();
    }
    std::int64_t WaitingRows() {
        TStatementUse s(Prepared("SELECT count(*) FROM items_fts_pending"));
        return s->Step() ? s->Int(0) : 0;
    }
    void IndexWaitingRows() {
        {
            TStatementUse s(
                Prepared("INSERT INTO items_fts(rowid, title, body) SELECT id, title, quillet_text(body) FROM items "
                         "WHERE id IN (SELECT id FROM items_fts_pending)"));
            s->Run();
        }
        TStatementUse s(Prepared("DELETE FROM items_fts_pending"));
        s->Run();
    }
    // Before a search: the index holds every row.
    void CatchUpIndex() {
        if (WaitingRows() == 0) return;
        sql::TTransaction transaction(Connection);
        IndexWaitingRows();
        transaction.Commit();
    }

    void MarkUnread(TItemId id) {
        TStatementUse s(Prepared("INSERT OR IGNORE INTO unread(feed, id) SELECT feed, id FROM items WHERE id = ?1"));
        s->Bind(1, id);
        s->Run();
    }

    // The ids first, then a plain delete: DELETE ... RETURNING would give
    // up SQLite's fast path for emptying a table.
    std::vector<TItemId> MarkRead(std::string_view select, std::string_view remove, const std::string* feedId) {
        std::vector<TItemId> ids;
        {
            TStatementUse s(Prepared(select));
            if (feedId) s->Bind(1, *feedId);
            ids = Returning(*s);
        }
        TStatementUse s(Prepared(remove));
        if (feedId) s->Bind(1, *feedId);
        s->Run();
        return ids;
    }

    // The item's latest text and identity. The WHERE clause skips rows that
    // would not change, so an unchanged item costs no write and the
    // full-text triggers only run for real edits.
    void Refresh(TItemId id, const std::string& feedId, const TStoredItem& item, const std::string& key) {
        TStatementUse s(Prepared(
            "UPDATE items SET key = ?2, link_hash = ?3, title_date_hash = ?4, guid = ?5, link = ?6, title = ?7, "
            "date_text = ?8, date_utc = ?9, author = ?10, body = ?11 WHERE id = ?12 AND (key IS NOT ?2 OR "
            "link_hash IS NOT ?3 OR title_date_hash IS NOT ?4 OR guid IS NOT ?5 OR link IS NOT ?6 OR "
            "title IS NOT ?7 OR date_text IS NOT ?8 OR date_utc IS NOT ?9 OR author IS NOT ?10 OR body IS NOT ?11)"));
        BindItem(*s, feedId, item, key);
        s->Bind(12, id);
        s->Run();
    }

    static void BindItem(TStatement& s, const std::string& feedId, const TStoredItem& item, const std::string& key) {
        s.Bind(1, feedId).Bind(2, key);
        s.Bind(3, IdentityHash(NormalisedLink(item.Link))).Bind(4, IdentityHash(TitleDateKey(item)));
        s.Bind(5, item.Guid).Bind(6, item.Link).Bind(7, item.Title).Bind(8, item.DateText).Bind(9, item.DateUTC);
        s.Bind(10, item.Author).Bind(11, item.Body);
    }

    TDownloadResult Record(const std::string& feedId, const std::vector<TStoredItem>& items, std::int64_t now,
                           bool seeding);
    void Forget(const std::string& feedId, const std::string& caption, std::int64_t now);
    int PruneFeed(const std::string& feedId, std::int64_t now);

    std::vector<TSearchHit> Hits(TStatement& s) {
        std::vector<TSearchHit> hits;
        while (s.Step()) {
            TSearchHit hit{s.Text(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4), std::nullopt, {}};
            if (!s.IsNull(5)) hit.DateUTC = s.Int(5);
            if (!s.IsNull(6)) hit.StarredFeedTitle = s.Text(6);
            hits.push_back(std::move(hit));
        }
        return hits;
    }

    // The item keys a statement of one feed's rows gives.
    std::vector<std::string> FeedKeys(std::string_view sql, const std::string& feedId) {
        TStatementUse s(Prepared(sql));
        s->Bind(1, feedId);
        std::vector<std::string> keys;
        while (s->Step()) keys.push_back(s->Text(0));
        return keys;
    }

    std::vector<TItemId> Returning(TStatement& s) {
        std::vector<TItemId> ids;
        while (s.Step()) ids.push_back(s.Int(0));
        return ids;
    }
};

// Matching runs in two passes so that an item still in the feed under its
// own key is never claimed by another item's looser match: first every
// exact key, then link and title-date for the rest. A stored item answers
// for one item of a download at most. A link or title-date key shared by
// two items of the same download identifies neither (feeds that link
// every item to their home page), and a link match also needs the title or
// the date to agree, for feeds that always publish under the same address.
TDownloadResult TItemStore::TImpl::Record(const std::string& feedId, const std::vector<TStoredItem>& items,
                                          std::int64_t now, bool seeding) {
    TDownloadResult result;
    result.New.assign(items.size(), false);
    sql::TTransaction transaction(Connection);
    const std::unordered_map<std::string, TPresentRow> present = PresentRows(feedId);
    std::unordered_set<TItemId> wasPresent;
    for (const auto& [key, row] : present) wasPresent.insert(row.Id);

    std::vector<std::string> keys(items.size()), links(items.size()), titleDates(items.size());
    std::vector<std::optional<TItemId>> matched(items.size());
    std::vector<const TPresentRow*> matchedRow(items.size(), nullptr);
    std::unordered_set<TItemId> claimed;
    std::unordered_map<std::string, int> linkUses, titleDateUses;
    for (std::size_t i = 0; i < items.size(); ++i) {
        keys[i] = ItemKey(items[i]);
        links[i] = NormalisedLink(items[i].Link);
        titleDates[i] = TitleDateKey(items[i]);
        ++linkUses[links[i]];
        ++titleDateUses[titleDates[i]];
        if (const auto row = present.find(keys[i]); row != present.end()) {
            if (claimed.insert(row->second.Id).second) {
                matched[i] = row->second.Id;
                matchedRow[i] = &row->second;
            }
        } else if (const auto found = FindByKey(feedId, keys[i]); found && claimed.insert(found->Id).second) {
            matched[i] = found->Id;
        }
    }

    std::unordered_set<std::string> keyed;  // keys given to rows in this download
    std::vector<TItemId> inserted;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (matched[i]) keyed.insert(keys[i]);
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (matched[i]) continue;
        if (keyed.count(keys[i]) || present.count(keys[i]) || FindByKey(feedId, keys[i]))
            continue;  // a repeat within the download
        const TStoredItem& item = items[i];
        const std::string& link = links[i];
        const std::string& titleDate = titleDates[i];
        auto pick = [&](const auto& candidates, auto&& same) -> std::optional<TItemId> {
            for (const auto& [id, row] : candidates) {
                if (!claimed.count(id) && same(row)) return id;
            }
            return std::nullopt;
        };
        std::optional<TItemId> id;
        if (!link.empty() && linkUses[link] == 1) {
            id = pick(
                Candidates("SELECT id, link, title, date_text, date_utc FROM items WHERE feed = ?1 AND "
                           "link_hash = ?2 AND link_hash <> 0",
                           feedId, IdentityHash(link)),
                [&](const TStoredItem& row) { return NormalisedLink(row.Link) == link && SameTitleOrDate(item, row); });
        }
        if (!id && !titleDate.empty() && titleDateUses[titleDate] == 1) {
            id = pick(Candidates("SELECT id, link, title, date_text, date_utc FROM items WHERE feed = ?1 AND "
                                 "title_date_hash = ?2 AND title_date_hash <> 0",
                                 feedId, IdentityHash(titleDate)),
                      [&](const TStoredItem& row) { return TitleDateKey(row) == titleDate; });
        }
        if (id) {
            claimed.insert(*id);
            matched[i] = id;
        } else {
            const TItemId added = Insert(feedId, item, keys[i], now, seeding);
            claimed.insert(added);
            inserted.push_back(added);
            result.New[i] = !seeding;
            ++result.NewCount;  // when seeding: how many were added
        }
        keyed.insert(keys[i]);
    }

    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!matched[i]) continue;
        if (!matchedRow[i] || !Unchanged(*matchedRow[i], items[i], links[i], titleDates[i]))
            Refresh(*matched[i], feedId, items[i], keys[i]);
        if (!wasPresent.count(*matched[i])) SetLeftAt(*matched[i], std::nullopt);  // back in the feed
    }
    for (const auto& [key, row] : present) {
        if (!claimed.count(row.Id)) SetLeftAt(row.Id, now);
    }
    IndexNewRows(inserted);
    PruneFeed(feedId, now);
    transaction.Commit();
    return result;
}

int TItemStore::TImpl::PruneFeed(const std::string& feedId, std::int64_t now) {
    int removed = 0;
    {
        TStatementUse s(
            Prepared("DELETE FROM items WHERE feed = ?1 AND left_at < ?2 AND id NOT IN (SELECT id FROM starred WHERE "
                     "feed = ?1)"));
        s->Bind(1, feedId).Bind(2, now - Options.Retention.KeepSeconds);
        s->Run();
        removed += static_cast<int>(Connection.Changes());
    }
    TStatementUse s(
        Prepared("DELETE FROM items WHERE id IN (SELECT id FROM items WHERE feed = ?1 AND left_at IS NOT NULL AND id "
                 "NOT IN (SELECT id FROM starred WHERE feed = ?1) ORDER BY left_at DESC, id DESC LIMIT -1 OFFSET "
                 "max(0, ?2 - (SELECT count(*) FROM items WHERE feed = ?1 AND left_at IS NULL)))"));
    s->Bind(1, feedId).Bind(2, std::int64_t{Options.Retention.PerFeedCap});
    s->Run();
    return removed + static_cast<int>(Connection.Changes());
}

// Starred items stay; being in no feed now, they have left it, and age
// from here once unstarred. Their unread rows go with the feed's counts.
void TItemStore::TImpl::Forget(const std::string& feedId, const std::string& caption, std::int64_t now) {
    {
        TStatementUse s(
            Prepared("DELETE FROM items WHERE feed = ?1 AND id NOT IN (SELECT id FROM starred WHERE feed = ?1)"));
        s->Bind(1, feedId);
        s->Run();
    }
    {
        TStatementUse s(Prepared("DELETE FROM unread WHERE feed = ?1"));
        s->Bind(1, feedId);
        s->Run();
    }
    {
        TStatementUse s(Prepared("UPDATE items SET left_at = ?2 WHERE feed = ?1 AND left_at IS NULL"));
        s->Bind(1, feedId).Bind(2, now);
        s->Run();
    }
    if (caption.empty()) return;
    TStatementUse s(Prepared("UPDATE starred SET feed_title = ?2 WHERE feed = ?1"));
    s->Bind(1, feedId).Bind(2, caption);
    s->Run();
}

TItemStore::TItemStore(std::unique_ptr<TImpl> impl) : FImpl(std::move(impl)) {}
TItemStore::~TItemStore() = default;

TOpenResult TItemStore::Open(const std::string& path, const TStoreOptions& options) {
    auto attempt = [&]() -> std::unique_ptr<TItemStore> {
        auto impl = std::make_unique<TImpl>(path, options);
        sql::TConnection& c = impl->Connection;
        Configure(c, options);
        if (options.CheckOnOpen) {
            const std::string check = c.QueryText("PRAGMA quick_check(1)");
            if (check != "ok") throw TDamage("the base is damaged: " + check);
        }
        schema::Upgrade(c);
        schema::CheckShape(c);
        impl->FullText = options.FullText && schema::EnsureFullText(c);
        impl->Indexed = impl->FullText || schema::HasFullText(c);
        if (impl->Indexed && !impl->FullText) {
            schema::PrepareIndexUpkeep(c);
            schema::EnsureArticleIndex(c);
        }
        // In place of SQLite's checkpoint in the commit.
        sqlite3_wal_hook(c.Handle(), &TImpl::WalCommitted, impl.get());
        return std::unique_ptr<TItemStore>(new TItemStore(std::move(impl)));
    };

    TOpenResult result;
    std::string damage;
    try {
        result.Store = attempt();
        return result;
    } catch (const TDamage& e) {
        damage = e.what();
    } catch (const schema::TSchemaError& e) {
        damage = e.what();
    } catch (const TSqliteError& e) {
        if (!IsDamage(e)) {
            result.Message = "The item base " + path + " cannot be opened: " + e.what();
            return result;
        }
        damage = e.what();
    } catch (const std::exception& e) {
        result.Message = "The item base " + path + " cannot be opened: " + e.what();
        return result;
    }

    try {
        result.SetAsidePath = SetAside(path);
    } catch (const std::exception& e) {
        result.Message =
            "The item base " + path + " is damaged (" + damage + ") and cannot be moved aside: " + e.what();
        return result;
    }
    result.Message = "The item base " + path + " could not be used (" + damage + "); it was kept as " +
                     result.SetAsidePath + " and a new one was started.";
    try {
        result.Store = attempt();
    } catch (const std::exception& e) {
        result.Message += " The new base cannot be created either: " + std::string(e.what());
    }
    return result;
}

std::unique_ptr<TItemStore> TItemStore::Connect() const {
    auto impl = std::make_unique<TImpl>(FImpl->Path, FImpl->Options);
    Configure(impl->Connection, FImpl->Options);
    // Another thread's connection records a feed at a time: a small page
    // cache holds the indexes' upper pages it keeps meeting and leaves the
    // rest to the system's file cache, where SQLite's default would add
    // 2 MB to the program for each such thread.
    impl->Connection.Exec("PRAGMA cache_size = -512");
    impl->FullText = FImpl->FullText;
    impl->Indexed = FImpl->Indexed;
    return std::unique_ptr<TItemStore>(new TItemStore(std::move(impl)));
}

const std::string& TItemStore::Path() const { return FImpl->Path; }
bool TItemStore::HasFullText() const { return FImpl->FullText; }
void TItemStore::SetRetention(const TRetention& retention) { FImpl->Options.Retention = retention; }

void TItemStore::SetBusyTimeout(int ms) {
    FImpl->Options.BusyTimeoutMs = ms;
    FImpl->Connection.Exec("PRAGMA busy_timeout = " + std::to_string(ms));
}

TDownloadResult TItemStore::RecordDownload(const std::string& feedId, const std::vector<TStoredItem>& items,
                                           std::int64_t now) {
    return FImpl->Record(feedId, items, now, false);
}

int TItemStore::SeedFromItems(const std::string& feedId, const std::vector<TStoredItem>& items, std::int64_t now) {
    return FImpl->Record(feedId, items, now, true).NewCount;
}

void TItemStore::ForgetFeed(const std::string& feedId, const std::string& caption) { ForgetFeeds({feedId}, {caption}); }

void TItemStore::ForgetFeeds(const std::vector<std::string>& feedIds, const std::vector<std::string>& captions) {
    const std::int64_t now = std::time(nullptr);
    sql::TTransaction transaction(FImpl->Connection);
    for (std::size_t i = 0; i < feedIds.size(); ++i)
        FImpl->Forget(feedIds[i], i < captions.size() ? captions[i] : std::string(), now);
    transaction.Commit();
}

int TItemStore::Prune(std::int64_t now) {
    std::vector<std::string> feeds;
    {
        TStatementUse s(FImpl->Prepared("SELECT DISTINCT feed FROM items"));
        while (s->Step()) feeds.push_back(s->Text(0));
    }
    sql::TTransaction transaction(FImpl->Connection);
    int removed = 0;
    for (const std::string& feed : feeds) removed += FImpl->PruneFeed(feed, now);
    transaction.Commit();
    return removed;
}

std::vector<TItemId> TItemStore::MarkFeedRead(const std::string& feedId) {
    sql::TTransaction transaction(FImpl->Connection);
    std::vector<TItemId> ids =
        FImpl->MarkRead("SELECT id FROM unread WHERE feed = ?1", "DELETE FROM unread WHERE feed = ?1", &feedId);
    transaction.Commit();
    return ids;
}

std::vector<TItemId> TItemStore::MarkFeedsRead(const std::vector<std::string>& feedIds) {
    sql::TTransaction transaction(FImpl->Connection);
    std::vector<TItemId> ids;
    for (const std::string& feed : feedIds) {
        const std::vector<TItemId> some =
            FImpl->MarkRead("SELECT id FROM unread WHERE feed = ?1", "DELETE FROM unread WHERE feed = ?1", &feed);
        ids.insert(ids.end(), some.begin(), some.end());
    }
    transaction.Commit();
    return ids;
}

std::map<std::string, std::vector<TItemId>> TItemStore::MarkFeedsReadEach(const std::vector<std::string>& feedIds) {
    sql::TTransaction transaction(FImpl->Connection);
    std::map<std::string, std::vector<TItemId>> changed;
    for (const std::string& feed : feedIds) {
        std::vector<TItemId> some =
            FImpl->MarkRead("SELECT id FROM unread WHERE feed = ?1", "DELETE FROM unread WHERE feed = ?1", &feed);
        if (!some.empty()) changed[feed] = std::move(some);
    }
    transaction.Commit();
    return changed;
}

std::vector<TItemId> TItemStore::MarkAllRead() {
    sql::TTransaction transaction(FImpl->Connection);
    std::vector<TItemId> ids = FImpl->MarkRead("SELECT id FROM unread", "DELETE FROM unread", nullptr);
    transaction.Commit();
    return ids;
}

void TItemStore::MarkItemsUnread(const std::vector<TItemId>& ids) {
    sql::TTransaction transaction(FImpl->Connection);
    for (TItemId id : ids) FImpl->MarkUnread(id);
    transaction.Commit();
}

std::vector<TItemId> TItemStore::MarkKeysRead(const std::string& feedId, const std::vector<std::string>& keys) {
    sql::TTransaction transaction(FImpl->Connection);
    std::vector<TItemId> ids;
    TStatementUse s(FImpl->Prepared("DELETE FROM unread WHERE feed = ?1 AND id = ?2"));
    for (const std::string& key : keys) {
        const auto found = FImpl->FindByKey(feedId, key);
        if (!found) continue;
        s->Reset();
        s->Bind(1, feedId).Bind(2, found->Id);
        s->Run();
        if (FImpl->Connection.Changes() > 0) ids.push_back(found->Id);
    }
    transaction.Commit();
    return ids;
}

bool TItemStore::SetItemRead(const std::string& feedId, const std::string& key, bool read) {
    const auto found = FImpl->FindByKey(feedId, key);
    if (!found) return false;
    if (!read) {
        FImpl->MarkUnread(found->Id);
        return true;
    }
    TStatementUse s(FImpl->Prepared("DELETE FROM unread WHERE feed = ?1 AND id = ?2"));
    s->Bind(1, feedId).Bind(2, found->Id);
    s->Run();
    return true;
}

bool TItemStore::SetItemStarred(const std::string& feedId, const std::string& key, bool starred,
                                const std::string& feedCaption, std::int64_t now) {
    const auto found = FImpl->FindByKey(feedId, key);
    if (!found) return false;
    if (!starred) {
        TStatementUse s(FImpl->Prepared("DELETE FROM starred WHERE id = ?1"));
        s->Bind(1, found->Id);
        s->Run();
        return FImpl->Connection.Changes() > 0;
    }
    {
        TStatementUse s(
            FImpl->Prepared("INSERT OR IGNORE INTO starred(id, feed, starred_at, feed_title) VALUES (?1, ?2, ?3, ?4)"));
        s->Bind(1, found->Id).Bind(2, feedId).Bind(3, now != 0 ? now : std::int64_t{std::time(nullptr)});
        s->Bind(4, feedCaption);
        s->Run();
        if (FImpl->Connection.Changes() > 0) return true;
    }
    if (!feedCaption.empty()) {
        TStatementUse s(FImpl->Prepared("UPDATE starred SET feed_title = ?2 WHERE id = ?1 AND feed_title <> ?2"));
        s->Bind(1, found->Id).Bind(2, feedCaption);
        s->Run();
    }
    return false;
}

int TItemStore::StarredCount() { return static_cast<int>(FImpl->Connection.QueryInt("SELECT count(*) FROM starred")); }

std::vector<std::string> TItemStore::StarredKeys(const std::string& feedId) {
    return FImpl->FeedKeys("SELECT i.key FROM starred s JOIN items i ON i.id = s.id WHERE s.feed = ?1 ORDER BY s.id",
                           feedId);
}

std::vector<TStarredItem> TItemStore::StarredItems(int limit, bool withBodies) {
    // The body is selected either way (as '' when not asked for), so both
    // reads are one statement.
    TStatementUse s(FImpl->Prepared(
        "SELECT i.feed, i.key, i.title, i.link, i.date_text, i.date_utc, i.author, CASE WHEN ?2 THEN i.body ELSE '' "
        "END, s.feed_title, s.starred_at, EXISTS (SELECT 1 FROM unread u WHERE u.feed = i.feed AND u.id = i.id), "
        "i.guid FROM starred s INDEXED BY starred_by_time JOIN items i ON i.id = s.id ORDER BY s.starred_at DESC, "
        "s.id DESC LIMIT ?1"));
    s->Bind(1, std::int64_t{limit}).Bind(2, std::int64_t{withBodies ? 1 : 0});
    std::vector<TStarredItem> starred;
    while (s->Step()) {
        TStarredItem item;
        item.FeedId = s->Text(0);
        item.Key = s->Text(1);
        item.Title = s->Text(2);
        item.Link = s->Text(3);
        item.DateText = s->Text(4);
        if (!s->IsNull(5)) item.DateUTC = s->Int(5);
        item.Author = s->Text(6);
        item.Body = s->Text(7);
        item.FeedTitle = s->Text(8);
        item.StarredAt = s->Int(9);
        item.Unread = s->Int(10) != 0;
        item.Guid = s->Text(11);
        starred.push_back(std::move(item));
    }
    return starred;
}

int TItemStore::UnreadCount(const std::string& feedId) {
    TStatementUse s(FImpl->Prepared("SELECT count(*) FROM unread WHERE feed = ?1"));
    s->Bind(1, feedId);
    return s->Step() ? static_cast<int>(s->Int(0)) : 0;
}

std::map<std::string, int> TItemStore::UnreadCounts() {
    TStatementUse s(FImpl->Prepared("SELECT feed, count(*) FROM unread GROUP BY feed"));
    std::map<std::string, int> counts;
    while (s->Step()) counts[s->Text(0)] = static_cast<int>(s->Int(1));
    return counts;
}

std::vector<std::string> TItemStore::UnreadKeys(const std::string& feedId) {
    return FImpl->FeedKeys("SELECT i.key FROM unread u JOIN items i ON i.id = u.id WHERE u.feed = ?1 ORDER BY u.id",
                           feedId);
}

int TItemStore::ItemCount(const std::string& feedId) {
    TStatementUse s(FImpl->Prepared("SELECT count(*) FROM items WHERE feed = ?1"));
    s->Bind(1, feedId);
    return s->Step() ? static_cast<int>(s->Int(0)) : 0;
}

std::vector<std::int64_t> TItemStore::FirstSeenTimes(const std::string& feedId, int limit) {
    TStatementUse s(FImpl->Prepared("SELECT first_seen FROM items WHERE feed = ?1 ORDER BY first_seen DESC LIMIT ?2"));
    s->Bind(1, feedId);
    s->Bind(2, static_cast<std::int64_t>(limit));
    std::vector<std::int64_t> times;
    while (s->Step()) times.push_back(s->Int(0));
    return times;
}

int TItemStore::TotalItemCount() { return static_cast<int>(FImpl->Connection.QueryInt("SELECT count(*) FROM items")); }

// What a search hit is made of (TImpl::Hits), with a starred item's feed
// name, which outlives a deleted feed.
constexpr const char* kHitColumns =
    "SELECT i.feed, i.key, i.title, i.link, i.date_text, i.date_utc, (SELECT feed_title FROM starred WHERE id = i.id)";

std::vector<TSearchHit> TItemStore::Search(const std::string& text, int limit, bool starredOnly) {
    const std::vector<std::string> words = Words(text);
    if (words.empty() || limit <= 0) return {};
    if (FImpl->FullText) {
        FImpl->CatchUpIndex();
        try {
            // Newest first by walking the recency index and keeping the
            // matches: a common word stops after `limit` items instead of
            // sorting most of the base. Among starred items the stars
            // come first: there are few, and sorting them is cheap.
            static const std::string kStarredSql =
                std::string(kHitColumns) +
                " FROM starred s JOIN items i ON i.id = s.id WHERE (i.id IN (SELECT rowid FROM items_fts WHERE "
                "items_fts MATCH ?2) OR i.id IN (SELECT rowid FROM articles_fts WHERE articles_fts MATCH ?2)) "
                "ORDER BY coalesce(i.date_utc, i.first_seen) DESC, i.id DESC LIMIT ?1";
            static const std::string kEverySql =
                std::string(kHitColumns) +
                " FROM items i INDEXED BY items_by_recency WHERE i.id IN (SELECT rowid FROM items_fts WHERE "
                "items_fts MATCH ?2) OR i.id IN (SELECT rowid FROM articles_fts WHERE articles_fts MATCH ?2) "
                "ORDER BY coalesce(i.date_utc, i.first_seen) DESC, i.id DESC LIMIT ?1";
            TStatementUse s(FImpl->Prepared(starredOnly ? kStarredSql : kEverySql));
            s->Bind(1, std::int64_t{limit}).Bind(2, FullTextQuery(words));
            return FImpl->Hits(*s);
        } catch (const TSqliteError& e) {
            // A word the tokenizer splits where Words did not would be a
            // phrase, which this index cannot answer: search without it.
            if (e.Code() != SQLITE_ERROR) throw;
        }
    }
    // Every word in the item's own text, or every word in its article.
    std::string sql = "1", article;
    for (std::size_t n = 0; n < words.size(); ++n) {
        const std::string p = "?" + std::to_string(n + 2);
        sql += " AND (i.title LIKE " + p + " ESCAPE '\\' OR i.body LIKE " + p + " ESCAPE '\\')";
        article += " AND (a.title LIKE " + p + " ESCAPE '\\' OR a.html LIKE " + p + " ESCAPE '\\')";
    }
    sql = std::string(kHitColumns) + " FROM items i WHERE ((" + sql +
          ") OR EXISTS (SELECT 1 FROM articles a WHERE a.id = i.id" + article + "))";
    if (starredOnly) sql += " AND i.id IN (SELECT id FROM starred)";
    TStatement s(FImpl->Connection.Handle(),
                 sql + " ORDER BY coalesce(i.date_utc, i.first_seen) DESC, i.id DESC LIMIT ?1");
    s.Bind(1, std::int64_t{limit});
    for (std::size_t n = 0; n < words.size(); ++n) s.Bind(static_cast<int>(n + 2), LikePattern(words[n]));
    return FImpl->Hits(s);
}

int TItemStore::StoreArticles(const std::vector<TItemArticle>& articles) {
    sql::TTransaction transaction(FImpl->Connection);
    TStatementUse s(FImpl->Prepared(
        "INSERT INTO articles(id, state, reason, detail, title, byline, html, tried_at) VALUES (?1, ?2, ?3, ?4, ?5, "
        "?6, ?7, ?8) ON CONFLICT(id) DO UPDATE SET state = excluded.state, reason = excluded.reason, detail = "
        "excluded.detail, title = excluded.title, byline = excluded.byline, html = excluded.html, tried_at = "
        "excluded.tried_at"));
    int kept = 0;
    for (const TItemArticle& a : articles) {
        if (a.Article.State == TArticleState::None) continue;
        const auto found = FImpl->FindByKey(a.FeedId, a.Key);
        if (!found) continue;  // pruned or forgotten while its page was fetched
        s->Reset();
        s->Bind(1, found->Id).Bind(2, StateCode(a.Article.State)).Bind(3, ArticleReasonCode(a.Article.Reason));
        s->Bind(4, a.Article.Detail).Bind(5, a.Article.Title).Bind(6, a.Article.Byline).Bind(7, a.Article.Html);
        s->Bind(8, a.Article.TriedAt);
        s->Run();
        ++kept;
    }
    transaction.Commit();
    return kept;
}

namespace {

// The columns every article read selects, in this order. A macro, as
// statements are kept by their literal text.
#define QUILLET_ARTICLE_COLUMNS "a.state, a.reason, a.detail, a.title, a.byline, a.html, a.tried_at"

TStoredArticle ReadArticle(sql::TStatement& s, int first) {
    TStoredArticle article;
    article.State = StateFromCode(s.Text(first));
    article.Reason = ArticleReasonFromCode(s.Text(first + 1));
    article.Detail = s.Text(first + 2);
    article.Title = s.Text(first + 3);
    article.Byline = s.Text(first + 4);
    if (article.State == TArticleState::Fetched) article.Html = s.Text(first + 5);
    article.TriedAt = s.Int(first + 6);
    return article;
}

}  // namespace

TStoredArticle TItemStore::Article(const std::string& feedId, const std::string& key) {
    TStatementUse s(FImpl->Prepared("SELECT " QUILLET_ARTICLE_COLUMNS
                                    " FROM articles a JOIN items i ON i.id = a.id WHERE i.feed = ?1 AND i.key = ?2"));
    s->Bind(1, feedId).Bind(2, key);
    if (!s->Step()) return {};
    return ReadArticle(*s, 0);
}

std::map<std::string, TStoredArticle> TItemStore::Articles(const std::string& feedId) {
    TStatementUse s(
        FImpl->Prepared("SELECT i.key, " QUILLET_ARTICLE_COLUMNS
                        " FROM articles a JOIN items i ON i.id = a.id WHERE i.feed = ?1 AND i.left_at IS NULL"));
    s->Bind(1, feedId);
    std::map<std::string, TStoredArticle> articles;
    while (s->Step()) articles.emplace(s->Text(0), ReadArticle(*s, 1));
    return articles;
}

std::optional<TArticleWork> TItemStore::ArticleWork(const std::string& feedId, const std::string& key) {
    TStatementUse s(FImpl->Prepared("SELECT i.link, i.body FROM items i WHERE i.feed = ?1 AND i.key = ?2"));
    s->Bind(1, feedId).Bind(2, key);
    if (!s->Step()) return std::nullopt;
    return TArticleWork{feedId, key, s->Text(0), s->Text(1)};
}

std::vector<TArticleWork> TItemStore::ItemsWantingArticle(const std::vector<std::string>& feedIds, std::int64_t now,
                                                          int limit) {
    std::vector<TArticleWork> work;
    TStatementUse s(FImpl->Prepared(
        "SELECT i.feed, i.key, i.link, i.body FROM items i LEFT JOIN articles a ON a.id = i.id WHERE i.feed = ?1 AND "
        "i.left_at IS NULL AND i.link <> '' AND (a.id IS NULL OR (a.state NOT IN ('fetched', 'kept-summary') AND "
        "a.tried_at <= ?2)) ORDER BY coalesce(i.date_utc, i.first_seen) DESC, i.id DESC LIMIT ?3"));
    for (const std::string& feed : feedIds) {
        if (static_cast<int>(work.size()) >= limit) break;
        s->Reset();
        s->Bind(1, feed).Bind(2, now - kArticleRetrySeconds).Bind(3, std::int64_t{limit - std::ssize(work)});
        while (s->Step()) work.push_back({s->Text(0), s->Text(1), s->Text(2), s->Text(3)});
    }
    return work;
}

std::int64_t TItemStore::Enqueue(const std::string& account, const std::string& kind, const std::string& payload,
                                 std::int64_t now) {
    TStatementUse s(
        FImpl->Prepared("INSERT INTO pending_changes(account, kind, payload, created) VALUES (?1, ?2, ?3, ?4)"));
    s->Bind(1, account).Bind(2, kind).Bind(3, payload).Bind(4, now);
    s->Run();
    return sqlite3_last_insert_rowid(FImpl->Connection.Handle());
}

void TItemStore::EnqueueAll(const std::vector<TPendingChange>& changes) {
    sql::TTransaction transaction(FImpl->Connection);
    for (const TPendingChange& change : changes) Enqueue(change.Account, change.Kind, change.Payload, change.Created);
    transaction.Commit();
}

std::vector<TPendingChange> TItemStore::Pending(const std::string& account) {
    TStatementUse s(FImpl->Prepared(
        "SELECT id, account, kind, payload, created FROM pending_changes WHERE account = ?1 ORDER BY id"));
    s->Bind(1, account);
    std::vector<TPendingChange> changes;
    while (s->Step()) changes.push_back({s->Int(0), s->Text(1), s->Text(2), s->Text(3), s->Int(4)});
    return changes;
}

void TItemStore::RemovePending(std::int64_t id) {
    TStatementUse s(FImpl->Prepared("DELETE FROM pending_changes WHERE id = ?1"));
    s->Bind(1, id);
    s->Run();
}

std::string TItemStore::CheckIntegrity() {
    TStatement s(FImpl->Connection.Handle(), "PRAGMA integrity_check");
    std::string findings;
    while (s.Step()) findings += (findings.empty() ? "" : "\n") + s.Text(0);
    return findings;
}

std::int64_t TItemStore::SizeBytes() {
    return FImpl->Connection.QueryInt("PRAGMA page_count") * FImpl->Connection.QueryInt("PRAGMA page_size");
}

}  // namespace items
