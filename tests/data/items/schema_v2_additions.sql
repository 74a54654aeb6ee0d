-- Run after schema_v1_with_items.sql: the base as the second schema version
-- left it, with a fetched article for the first item.
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
INSERT INTO articles(id, state, title, html, tried_at) VALUES (1, 'fetched', 'First post', '<p>Lighthouse keepers</p>', 5500);
PRAGMA user_version = 2;
