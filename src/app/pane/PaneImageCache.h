// The light pane's images on disk (the home's cache/images/), so that the
// images of pages read yesterday show without the network, and a page seen
// again costs no download.
//
// One file per address, named by a hash of it: the address, the answer's
// validators and freshness in a short header, then the image's bytes as
// they came. Files are written atomically; a file that does not read back
// (cut short, another program's) is a miss and goes. The folder is kept
// under a size limit, the least recently used files going first. Safe to
// use from several threads at once.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMutex>
#include <QString>

#include <optional>

#include "HttpClient.h"

namespace quillet {

class TPaneImageCache {
public:
    // The delivered limit of the folder, and the option's path.
    static constexpr qint64 kDefaultLimitBytes = qint64(100) << 20;

    struct TEntry {
        QByteArray Body;
        http::TValidators Validators;
        // Until when the server said the image stays fresh.
        QDateTime FreshUntil;
    };

    TPaneImageCache(const QString& folder, qint64 limitBytes = kDefaultLimitBytes);

    const QString& Folder() const { return FFolder; }
    qint64 LimitBytes() const;
    void SetLimitBytes(qint64 bytes);

    // The stored copy of `url`; a hit counts as a use.
    std::optional<TEntry> Find(const QString& url);
    // Keeps (or replaces) the copy of `url`, then trims the folder.
    void Store(const QString& url, const TEntry& entry);
    // The bytes in the folder, as last counted.
    qint64 SizeBytes();

private:
    QString FileOf(const QString& url) const;
    // Counts the folder once, on first need.
    void CountLocked();
    void TrimLocked();

    const QString FFolder;
    QMutex FMutex;
    qint64 FLimit;
    qint64 FSize = -1;
};

}  // namespace quillet
