// The item base's schema and its upgrades. Private to the store: the rest
// of the program never sees a table.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Sqlite.h"

namespace items::schema {

// The base holds tables this program cannot use or upgrade.
class TSchemaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Takes a base from one version to the next; runs inside a transaction.
using TMigration = std::function<void(sql::TConnection&)>;

// The migrations of this program: entry N takes version N to N + 1, so the
// current version is their count. A new version is one more function.
const std::vector<TMigration>& Migrations();
inline int CurrentVersion() { return static_cast<int>(Migrations().size()); }

// Brings the base to the last version in place, one transaction per step
// (PRAGMA user_version counts them). Raises TSchemaError for a base of a
// newer version or a step that fails; a failed step leaves the base at the
// version before it.
void Upgrade(sql::TConnection& connection, const std::vector<TMigration>& migrations = Migrations());

// Raises TSchemaError unless every table and column the store reads exists.
void CheckShape(sql::TConnection& connection);

// The full-text index over titles and bodies, kept by triggers; outside the
// versioned schema because it depends on this SQLite's FTS5. Creates and
// fills it when missing; false when FTS5 is not available.
bool EnsureFullText(sql::TConnection& connection);
bool HasFullText(sql::TConnection& connection);
// New rows wait in items_fts_pending and join the index in batches; the
// triggers that keep the index through edits and deletions pass over
// them. Brings a base made by an earlier version to that (its insert
// trigger would index rows twice, its other triggers would remove rows
// never indexed). Older programs still work with the result.
void PrepareIndexUpkeep(sql::TConnection& connection);
// The index over fetched articles, beside the items' one and kept by
// triggers; made (and filled) wherever the items' index is.
void EnsureArticleIndex(sql::TConnection& connection);

// The SQL function quillet_text(html), the text a person reads in a body,
// which the triggers index. Registered on every connection.
void RegisterFunctions(sql::TConnection& connection);

}  // namespace items::schema
