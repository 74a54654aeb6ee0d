-- A base as the first schema version wrote it: two feeds, one item read,
-- one item that left its feed, one pending change. No full-text index yet.
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
CREATE INDEX items_by_recency ON items(coalesce(date_utc, first_seen));
CREATE TABLE unread(
  feed TEXT NOT NULL,
  id INTEGER NOT NULL,
  PRIMARY KEY(feed, id)
) WITHOUT ROWID;
CREATE TRIGGER items_unread_delete AFTER DELETE ON items BEGIN
  DELETE FROM unread WHERE feed = old.feed AND id = old.id;
END;
CREATE TABLE pending_changes(
  id INTEGER PRIMARY KEY,
  account TEXT NOT NULL,
  kind TEXT NOT NULL,
  payload TEXT NOT NULL,
  created INTEGER NOT NULL
);
CREATE INDEX pending_by_account ON pending_changes(account, id);
-- The hashes are those ItemIdentity gives for the normalised link and the
-- title and date.
INSERT INTO items(feed, key, link_hash, title_date_hash, guid, link, title, date_text, date_utc, body, first_seen, left_at) VALUES
  ('1', 'g:one', 6864154522102907975, -8972901967948638097, 'one', 'http://example.org/1', 'First post', 'Thu, 01 Jan 1970 00:16:40 GMT', 1000, '<p>Opening words</p>', 5000, NULL),
  ('1', 'g:two', 6864155621614536186, -6470124921519517216, 'two', 'http://example.org/2', 'Second post', 'Thu, 01 Jan 1970 00:33:20 GMT', 2000, '<p>More words</p>', 5000, NULL),
  ('7', 'l://example.net/x', -780254018298354139, 0, '', 'https://example.net/x', 'Gone', '', NULL, '', 4000, 4500);
INSERT INTO unread(feed, id) VALUES ('1', 2), ('7', 3);
INSERT INTO pending_changes(account, kind, payload, created) VALUES ('acct', 'read', '{"id":"one"}', 5000);
PRAGMA user_version = 1;
