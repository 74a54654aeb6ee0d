#include "ItemSchema.h"

#include <sqlite3.h>

#include <cctype>
#include <string_view>

namespace items::schema {

namespace {

// Version 1. One row per item ever seen in a feed. The identity columns
// follow ItemIdentity.h, which computes them: `key` is the identity (guid,
// else normalised link, else title and date), unique per feed;
// `link_hash` and `title_date_hash` find candidates for the same item
// re-published under another guid (0 when the item has no such key).
// `left_at` is NULL while an item is in its feed (such items are never
// pruned) and else when it left, from which it ages. A download writes
// only rows that arrive, change or leave. Read state lives apart in the
// narrow `unread` table (a row per unread item), so marking thousands of
// items read never rewrites their bodies. Times are seconds since 1970 UTC.
void CreateVersion1(sql::TConnection& c) {
    c.Exec(R"(
CREATE TABLE items(
  id INTEGER PRIMARY KEY,
  feed TEXT NOT NULL,
  key TEXT NOT NULL,
  link_hash INTEGER NOT NULL DEFAULT 0,
  title_date_hash INTEGER NOT NULL DEFAULT 0,
  guid TEXT NOT NULL DEFAULT '',
  link TEXT NOT NULL DEFAULT '',
  title TEXT NOT NULL DEFAULT '',
  date_text TEXT NOT NULL DEFAULT '',
  date_utc INTEGER,
  author TEXT NOT NULL DEFAULT '',
  body TEXT NOT NULL DEFAULT '',
  first_seen INTEGER NOT NULL,
  left_at INTEGER
);
CREATE UNIQUE INDEX items_by_key ON items(feed, key);
CREATE INDEX items_by_link ON items(feed, link_hash) WHERE link_hash <> 0;
CREATE INDEX items_by_title_date ON items(feed, title_date_hash) WHERE title_date_hash <> 0;
CREATE INDEX items_present ON items(feed) WHERE left_at IS NULL;
CREATE INDEX items_gone ON items(feed, left_at) WHERE left_at IS NOT NULL;
-- Search lists newest first by walking this, so a common word stops early.
CREATE INDEX items_by_recency ON items(coalesce(date_utc, first_seen));
CREATE TABLE unread(
  feed TEXT NOT NULL,
  id INTEGER NOT NULL,
  PRIMARY KEY(feed, id)
) WITHOUT ROWID;
CREATE TRIGGER items_unread_delete AFTER DELETE ON items BEGIN
  DELETE FROM unread WHERE feed = old.feed AND id = old.id;
END;

-- Changes waiting to be sent to a sync server, oldest first.
CREATE TABLE pending_changes(
  id INTEGER PRIMARY KEY,
  account TEXT NOT NULL,
  kind TEXT NOT NULL,
  payload TEXT NOT NULL,
  created INTEGER NOT NULL
);
CREATE INDEX pending_by_account ON pending_changes(account, id);
)");
}

// Version 2. The full article of an item, fetched from its link, in a
// table of its own: downloads never read it, and an item without one has
// no row. `state` and `reason` are the stable codes of StoredArticle.h;
// `tried_at` is the last try, from which a failure waits a day.
void CreateVersion2(sql::TConnection& c) {
    c.Exec(R"(
CREATE TABLE articles(
  id INTEGER PRIMARY KEY,
  state TEXT NOT NULL,
  reason TEXT NOT NULL DEFAULT '',
  detail TEXT NOT NULL DEFAULT '',
  title TEXT NOT NULL DEFAULT '',
  byline TEXT NOT NULL DEFAULT '',
  html TEXT NOT NULL DEFAULT '',
  tried_at INTEGER NOT NULL
);
CREATE TRIGGER items_article_delete AFTER DELETE ON items BEGIN
  DELETE FROM articles WHERE id = old.id;
END;
)");
}

// Version 3. Stars: the items the user wants to keep, in a narrow table
// of their own like `unread`, so starring never rewrites a body. A starred
// item is outside the retention and outlives its feed; `feed_title` is the
// feed's caption as last told, for when the feed is gone. Listing walks
// `starred_by_time` newest star first.
void CreateVersion3(sql::TConnection& c) {
    c.Exec(R"(
CREATE TABLE starred(
  id INTEGER PRIMARY KEY,
  feed TEXT NOT NULL,
  starred_at INTEGER NOT NULL,
  feed_title TEXT NOT NULL DEFAULT ''
);
CREATE INDEX starred_by_time ON starred(starred_at, id);
CREATE INDEX starred_by_feed ON starred(feed);
CREATE TRIGGER items_starred_delete AFTER DELETE ON items BEGIN
  DELETE FROM starred WHERE id = old.id;
END;
)");
}

bool IsTagStart(std::string_view html, std::size_t i) {
    return i + 1 < html.size() && (std::isalpha(static_cast<unsigned char>(html[i + 1])) || html[i + 1] == '/' ||
                                   html[i + 1] == '!' || html[i + 1] == '?');
}

// Tags become blanks (so "a<br>b" stays two words) and the entities that
// join words are decoded; the tokenizer treats other punctuation as space.
std::string TextOfHtml(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    for (std::size_t i = 0; i < html.size(); ++i) {
        const char c = html[i];
        if (c == '<' && IsTagStart(html, i)) {
            const std::size_t end = html.find('>', i);
            if (end == std::string_view::npos) break;
            out += ' ';
            i = end;
        } else if (c == '&') {
            const std::size_t end = html.find(';', i);
            const std::string_view name = end == std::string_view::npos ? "" : html.substr(i + 1, end - i - 1);
            if (name == "amp")
                out += '&';
            else if (name == "nbsp" || name == "lt" || name == "gt" || name == "quot")
                out += ' ';
            else if (name == "#39" || name == "apos" || name == "rsquo")
                out += '\'';
            else {
                out += c;
                continue;
            }
            i = end;
        } else {
            out += c;
        }
    }
    return out;
}

void TextFunction(sqlite3_context* context, int, sqlite3_value** values) {
    const auto* html = sqlite3_value_text(values[0]);
    if (!html) {
        sqlite3_result_null(context);
        return;
    }
    const std::string text = TextOfHtml(std::string_view(reinterpret_cast<const char*>(html),
                                                         static_cast<std::size_t>(sqlite3_value_bytes(values[0]))));
    sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

const std::vector<TMigration>& Migrations() {
    static const std::vector<TMigration> migrations = {CreateVersion1, CreateVersion2, CreateVersion3};
    return migrations;
}

void Upgrade(sql::TConnection& c, const std::vector<TMigration>& migrations) {
    const auto last = static_cast<std::int64_t>(migrations.size());
    const std::int64_t version = c.QueryInt("PRAGMA user_version");
    if (version > last || version < 0) {
        throw TSchemaError("the base has schema version " + std::to_string(version) + ", this program knows up to " +
                           std::to_string(last));
    }
    for (std::int64_t v = version; v < last; ++v) {
        try {
            sql::TTransaction transaction(c);
            migrations[static_cast<std::size_t>(v)](c);
            c.Exec("PRAGMA user_version = " + std::to_string(v + 1));
            transaction.Commit();
        } catch (const sql::TSqliteError& e) {
            if (e.Code() == SQLITE_CORRUPT || e.Code() == SQLITE_NOTADB) throw;
            // Anything else a migration meets (a table of another shape) is a
            // schema this program cannot take over; disk errors stay as they are.
            if (e.Code() == SQLITE_FULL || e.Code() == SQLITE_IOERR || e.Code() == SQLITE_BUSY ||
                e.Code() == SQLITE_READONLY)
                throw;
            throw TSchemaError("cannot upgrade the base to schema version " + std::to_string(v + 1) + ": " + e.what());
        }
    }
}

void CheckShape(sql::TConnection& c) {
    try {
        sql::TStatement(
            c.Handle(),
            "SELECT id, feed, key, link_hash, title_date_hash, guid, link, title, date_text, date_utc, author, "
            "body, first_seen, left_at FROM items LIMIT 0");
        sql::TStatement(c.Handle(), "SELECT feed, id FROM unread LIMIT 0");
        sql::TStatement(c.Handle(), "SELECT id, account, kind, payload, created FROM pending_changes LIMIT 0");
        sql::TStatement(c.Handle(),
                        "SELECT id, state, reason, detail, title, byline, html, tried_at FROM articles LIMIT 0");
        sql::TStatement(c.Handle(), "SELECT id, feed, starred_at, feed_title FROM starred LIMIT 0");
    } catch (const sql::TSqliteError& e) {
        if (e.Code() == SQLITE_CORRUPT || e.Code() == SQLITE_NOTADB) throw;
        throw TSchemaError(std::string("the base's tables are not the store's: ") + e.what());
    }
}

bool HasFullText(sql::TConnection& c) {
    return c.QueryInt("SELECT count(*) FROM sqlite_schema WHERE name = 'items_fts'") > 0;
}

// New rows are indexed by the store itself, many downloads' worth in one
// statement: FTS5 writes a segment at every commit, and one segment per
// download (let alone a trigger's one per row) left most of a download's
// cost to writing and merging segments. Until then a row waits in
// items_fts_pending. Edits and deletions are rare and keep their triggers,
// which leave waiting rows alone: they are not in the index yet, and
// removing a row from an external-content index that never held it
// damages the index.
void PrepareIndexUpkeep(sql::TConnection& c) {
    const bool current = c.QueryInt(
                             "SELECT count(*) FROM sqlite_schema WHERE (type = 'trigger' AND "
                             "name = 'items_fts_delete' AND sql LIKE '%items_fts_pending%') OR "
                             "(type = 'table' AND name = 'items_fts_pending')") == 2 &&
                         c.QueryInt("SELECT count(*) FROM sqlite_schema WHERE name = 'items_fts_insert'") == 0;
    if (current) return;
    sql::TTransaction transaction(c);
    c.Exec(R"(
CREATE TABLE IF NOT EXISTS items_fts_pending(id INTEGER PRIMARY KEY);
DROP TRIGGER IF EXISTS items_fts_insert;
DROP TRIGGER IF EXISTS items_fts_delete;
DROP TRIGGER IF EXISTS items_fts_update;
CREATE TRIGGER items_fts_delete AFTER DELETE ON items BEGIN
  INSERT INTO items_fts(items_fts, rowid, title, body) SELECT 'delete', old.id, old.title, quillet_text(old.body)
    WHERE NOT EXISTS (SELECT 1 FROM items_fts_pending WHERE id = old.id);
  DELETE FROM items_fts_pending WHERE id = old.id;
END;
CREATE TRIGGER items_fts_update AFTER UPDATE OF title, body ON items
WHEN NOT EXISTS (SELECT 1 FROM items_fts_pending WHERE id = old.id) BEGIN
  INSERT INTO items_fts(items_fts, rowid, title, body) VALUES ('delete', old.id, old.title, quillet_text(old.body));
  INSERT INTO items_fts(rowid, title, body) VALUES (new.id, new.title, quillet_text(new.body));
END;
)");
    transaction.Commit();
}

// Articles are written a few at a time, after downloads, so plain
// triggers keep their index; the same tokenizer and text function as the
// items' index, so a word is found alike in either.
void EnsureArticleIndex(sql::TConnection& c) {
    if (c.QueryInt("SELECT count(*) FROM sqlite_schema WHERE name = 'articles_fts'") > 0) return;
    sql::TTransaction transaction(c);
    c.Exec(R"(
CREATE VIRTUAL TABLE articles_fts USING fts5(title, html, content='articles', content_rowid='id',
  detail=none, columnsize=0, tokenize='unicode61 remove_diacritics 2');
INSERT INTO articles_fts(rowid, title, html) SELECT id, title, quillet_text(html) FROM articles;
CREATE TRIGGER articles_fts_insert AFTER INSERT ON articles BEGIN
  INSERT INTO articles_fts(rowid, title, html) VALUES (new.id, new.title, quillet_text(new.html));
END;
CREATE TRIGGER articles_fts_delete AFTER DELETE ON articles BEGIN
  INSERT INTO articles_fts(articles_fts, rowid, title, html) VALUES ('delete', old.id, old.title, quillet_text(old.html));
END;
CREATE TRIGGER articles_fts_update AFTER UPDATE OF title, html ON articles BEGIN
  INSERT INTO articles_fts(articles_fts, rowid, title, html) VALUES ('delete', old.id, old.title, quillet_text(old.html));
  INSERT INTO articles_fts(rowid, title, html) VALUES (new.id, new.title, quillet_text(new.html));
END;
)");
    transaction.Commit();
}

bool EnsureFullText(sql::TConnection& c) {
    if (HasFullText(c)) {
        PrepareIndexUpkeep(c);
        EnsureArticleIndex(c);
        return true;
    }
    sql::TTransaction transaction(c);
    try {
        c.Exec(
            "CREATE VIRTUAL TABLE items_fts USING fts5(title, body, content='items', content_rowid='id', "
            "detail=none, columnsize=0, tokenize='unicode61 remove_diacritics 2')");
    } catch (const sql::TSqliteError&) {
        return false;  // this SQLite has no FTS5: search falls back to LIKE
    }
    // An external-content index: the text lives once, in items. What was
    // indexed must be given again to delete it, hence the same expressions
    // (also in the store's IndexWaitingRows and in the triggers);
    // a change to quillet_text needs the index dropped and built again.
    // detail=none keeps no word positions: a third of the size, and the
    // search only asks which items hold which words (Search never sends a
    // phrase of several words).
    c.Exec("DROP TABLE IF EXISTS items_fts_pending");  // every row is indexed now
    c.Exec("INSERT INTO items_fts(rowid, title, body) SELECT id, title, quillet_text(body) FROM items");
    transaction.Commit();
    PrepareIndexUpkeep(c);
    EnsureArticleIndex(c);
    return true;
}

void RegisterFunctions(sql::TConnection& c) {
    const int rc =
        sqlite3_create_function_v2(c.Handle(), "quillet_text", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                   nullptr, TextFunction, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw sql::TSqliteError("cannot register quillet_text", rc);
}

}  // namespace items::schema
