-- A base as the first schema version wrote it: two feeds, one item read,
-- one item that left its feed, one pending change. No full-text index yet.
CREATE TABLE items(
  id INTEGER PRIMARY KEY,
  feed TEXT NOT NULL,
  key TEXT NOT NULL,
  link_key TEXT,
  title_date_key TEXT,
  guid TEXT NOT NULL DEFAULT '',
  link TEXT NOT NULL DEFAULT '',
  title TEXT NOT NULL DEFAULT '',
  date_text TEXT NOT NULL DEFAULT '',
  date_utc INTEGER,
  author TEXT NOT NULL DEFAULT '',
  body TEXT NOT NULL DEFAULT '',
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL,
  in_feed INTEGER NOT NULL DEFAULT 1,
  read INTEGER NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX items_by_key ON items(feed, key);
CREATE INDEX items_by_link ON items(feed, link_key) WHERE link_key IS NOT NULL;
CREATE INDEX items_by_title_date ON items(feed, title_date_key) WHERE title_date_key IS NOT NULL;
CREATE INDEX items_unread ON items(feed) WHERE read = 0;
CREATE INDEX items_gone ON items(feed, last_seen) WHERE in_feed = 0;
CREATE TABLE pending_changes(
  id INTEGER PRIMARY KEY,
  account TEXT NOT NULL,
  kind TEXT NOT NULL,
  payload TEXT NOT NULL,
  created INTEGER NOT NULL
);
CREATE INDEX pending_by_account ON pending_changes(account, id);
INSERT INTO items(feed, key, link_key, title_date_key, guid, link, title, date_text, date_utc, body, first_seen, last_seen, in_feed, read) VALUES
  ('1', 'g:one', '//example.org/1', 'First post' || char(31) || '1000', 'one', 'http://example.org/1', 'First post', 'Thu, 01 Jan 1970 00:16:40 GMT', 1000, '<p>Opening words</p>', 5000, 5000, 1, 1),
  ('1', 'g:two', '//example.org/2', 'Second post' || char(31) || '2000', 'two', 'http://example.org/2', 'Second post', 'Thu, 01 Jan 1970 00:33:20 GMT', 2000, '<p>More words</p>', 5000, 5000, 1, 0),
  ('7', 'l://example.net/x', '//example.net/x', NULL, '', 'https://example.net/x', 'Gone', '', NULL, '', 4000, 4000, 0, 0);
INSERT INTO pending_changes(account, kind, payload, created) VALUES ('acct', 'read', '{"id":"one"}', 5000);
PRAGMA user_version = 1;
