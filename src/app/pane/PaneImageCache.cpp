#include "PaneImageCache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace quillet {
namespace {

// The first line of every file: a file without it is none of ours.
constexpr char kMagic[] = "quillet-image 1\n";
constexpr int kHeaderLines = 4;  // address, ETag, Last-Modified, fresh until (ms since the epoch)

}  // namespace

TPaneImageCache::TPaneImageCache(const QString& folder, qint64 limitBytes) : FFolder(folder), FLimit(limitBytes) {}

qint64 TPaneImageCache::LimitBytes() const { return FLimit; }

void TPaneImageCache::SetLimitBytes(qint64 bytes) {
    QMutexLocker lock(&FMutex);
    FLimit = std::max<qint64>(0, bytes);
    if (FSize >= 0) TrimLocked();
}

QString TPaneImageCache::FileOf(const QString& url) const {
    return FFolder + QLatin1Char('/') +
           QString::fromLatin1(QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha256).toHex().left(40));
}

std::optional<TPaneImageCache::TEntry> TPaneImageCache::Find(const QString& url) {
    QMutexLocker lock(&FMutex);
    QFile file(FileOf(url));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray data = file.readAll();
    // Used now: the last to go when the folder is trimmed.
    file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
    file.close();
    // Header lines, then the body.
    QList<QByteArray> header;
    qsizetype pos = 0;
    for (int i = 0; i <= kHeaderLines && pos >= 0; ++i) {
        const qsizetype end = data.indexOf('\n', pos);
        if (end < 0)
            pos = -1;
        else {
            header << data.mid(pos, end - pos);
            pos = end + 1;
        }
    }
    if (pos < 0 || header.size() != kHeaderLines + 1 || header[0] + '\n' != kMagic || header[1] != url.toUtf8()) {
        // Cut short, or another address of the same hash: not this image.
        if (pos < 0 || header.value(0) + '\n' != kMagic) QFile::remove(file.fileName());
        return std::nullopt;
    }
    TEntry entry;
    entry.Validators.ETag = header[2].toStdString();
    entry.Validators.LastModified = header[3].toStdString();
    entry.FreshUntil = QDateTime::fromMSecsSinceEpoch(header[4].toLongLong(), Qt::UTC);
    entry.Body = data.mid(pos);
    return entry;
}

void TPaneImageCache::Store(const QString& url, const TEntry& entry) {
    QMutexLocker lock(&FMutex);
    if (!QDir().mkpath(FFolder)) return;
    CountLocked();
    const QString path = FileOf(url);
    const qint64 before = QFileInfo(path).size();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    auto clean = [](QByteArray line) { return line.replace('\n', ' ').replace('\r', ' '); };
    file.write(kMagic);
    file.write(clean(url.toUtf8()) + '\n');
    file.write(clean(QByteArray::fromStdString(entry.Validators.ETag)) + '\n');
    file.write(clean(QByteArray::fromStdString(entry.Validators.LastModified)) + '\n');
    file.write(QByteArray::number(entry.FreshUntil.isValid() ? entry.FreshUntil.toMSecsSinceEpoch() : 0) + '\n');
    file.write(entry.Body);
    if (!file.commit()) return;
    FSize += QFileInfo(path).size() - before;
    TrimLocked();
}

qint64 TPaneImageCache::SizeBytes() {
    QMutexLocker lock(&FMutex);
    CountLocked();
    return FSize;
}

void TPaneImageCache::CountLocked() {
    if (FSize >= 0) return;
    FSize = 0;
    for (const QFileInfo& info : QDir(FFolder).entryInfoList(QDir::Files)) FSize += info.size();
}

void TPaneImageCache::TrimLocked() {
    if (FSize <= FLimit) return;
    QFileInfoList files = QDir(FFolder).entryInfoList(QDir::Files, QDir::Time | QDir::Reversed);
    FSize = 0;
    for (const QFileInfo& info : files) FSize += info.size();
    for (const QFileInfo& info : files) {
        if (FSize <= FLimit) break;
        if (QFile::remove(info.absoluteFilePath())) FSize -= info.size();
    }
}

}  // namespace quillet
