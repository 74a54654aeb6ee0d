// What a row of the feed tree says to a screen reader. The eye reads a
// row's state from its font, its icon and the count drawn at its right; a
// screen reader gets the same in words ("Field Notes, 4 unread, failing:
// the server does not answer"), in the user's language, asked for each
// time it is read so that a language switch is heard at once.
#pragma once

#include <QString>

namespace rowspeech {

struct TRowFacts {
    enum class TKind { Feed, Folder, Root, Starred };
    TKind Kind = TKind::Feed;
    // The name as shown, without the count.
    QString Name;
    long long Unread = 0;
    // A folder's (or the root's) feeds, all levels down.
    long long Feeds = 0;
    // The Starred row's items.
    long long Items = 0;
    // Why the feed's last update failed; "" when it did not.
    QString Failure;
    // Why the feed needs attention otherwise (feed health); "" for nothing.
    QString Attention;
};

// The row's accessible name: its name and its state, parts apart by commas.
QString SpokenName(const TRowFacts& row);

}  // namespace rowspeech
