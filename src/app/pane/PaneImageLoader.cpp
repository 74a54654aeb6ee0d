#include "PaneImageLoader.h"

#include <QBuffer>
#include <QDateTime>
#include <QImageReader>
#include <QMetaObject>
#include <QPointer>

#include <exception>

#include "HttpClient.h"
#include "PaneImageCache.h"

namespace quillet {
namespace {

// How long a picture whose server said nothing about it stays fresh: images
// of feeds rarely change under the same address.
constexpr qint64 kAssumedFreshSecs = 24 * 60 * 60;
// The workers: enough to fill a page, few enough to leave the machine alone.
constexpr int kWorkers = 3;

const QList<QByteArray>& WebFormats() {
    static const QList<QByteArray> formats{"png", "jpeg", "jpg", "gif", "webp", "bmp"};
    return formats;
}

void SetError(QString* error, const QString& text) {
    if (error) *error = text;
}

// The picture's bytes, from the cache when fresh, else from its server
// (asked conditionally when the cache has a stale copy); a stale copy still
// serves when the server cannot be reached.
QByteArray FetchBytes(const QUrl& url, const std::shared_ptr<TPaneImageCache>& cache,
                      const std::shared_ptr<http::TCancelToken>& cancel, QString* error) {
    const QString address = url.toString(QUrl::FullyEncoded);
    std::optional<TPaneImageCache::TEntry> cached = cache ? cache->Find(address) : std::nullopt;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (cached && cached->FreshUntil > now) return cached->Body;
    http::FetchOptions options;
    options.secureFeeds = true;
    options.followRedirects = true;
    http::THttpClient client(options, cancel);
    client.SetConnectTimeout(std::chrono::seconds(10));
    client.SetStallTimeout(std::chrono::seconds(15));
    client.SetDeadline(std::chrono::seconds(30));
    client.SetMaxBodySize(kMaxImageFileBytes);
    try {
        const http::TFetchResult result =
            client.Fetch(address.toStdString(), cached ? cached->Validators : http::TValidators{});
        TPaneImageCache::TEntry entry;
        entry.Body = result.NotModified && cached ? cached->Body : QByteArray::fromStdString(result.Body);
        entry.Validators = result.Validators;
        entry.FreshUntil =
            result.FreshUntil
                ? QDateTime::fromSecsSinceEpoch(
                      std::chrono::duration_cast<std::chrono::seconds>(result.FreshUntil->time_since_epoch()).count(),
                      Qt::UTC)
                : now.addSecs(kAssumedFreshSecs);
        if (cache && !entry.Body.isEmpty()) cache->Store(address, entry);
        return entry.Body;
    } catch (const std::exception& e) {
        if (cached) return cached->Body;
        SetError(error, QString::fromUtf8(e.what()));
        return {};
    }
}

}  // namespace

QImage DecodePaneImage(const QByteArray& bytes, int maxWidth, QString* error) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead() || !WebFormats().contains(reader.format().toLower())) {
        SetError(error, QStringLiteral("not a picture"));
        return {};
    }
    // The header's word on the size comes before any pixel is allocated.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || qint64(size.width()) * size.height() > kMaxImagePixels) {
        SetError(error, QStringLiteral("%1 x %2 pixels is too large").arg(size.width()).arg(size.height()));
        return {};
    }
    if (maxWidth > 0 && size.width() > maxWidth)
        reader.setScaledSize(QSize(maxWidth, std::max(1, int(qint64(size.height()) * maxWidth / size.width()))));
    QImage image = reader.read();
    if (image.isNull()) SetError(error, reader.errorString());
    return image;
}

QImage DecodeDataImage(const QUrl& url, int maxWidth, QString* error) {
    // data:[<type>][;base64],<data>
    const QString text = url.toString(QUrl::FullyEncoded);
    if (text.size() > kMaxDataImageChars) {
        SetError(error, QStringLiteral("the embedded picture is too large"));
        return {};
    }
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    if (comma < 0) {
        SetError(error, QStringLiteral("not a picture"));
        return {};
    }
    const QString head = text.mid(5, comma - 5);
    const QByteArray data = QByteArray::fromPercentEncoding(text.mid(comma + 1).toLatin1());
    return DecodePaneImage(head.endsWith(QLatin1String(";base64")) ? QByteArray::fromBase64(data) : data, maxWidth,
                           error);
}

TPaneImageLoader::TPaneImageLoader(QObject* parent) : QObject(parent), FCancel(std::make_shared<http::TCancelToken>()) {
    FPool.setMaxThreadCount(kWorkers);
    // Qt's own ceiling for one decoded picture, below its default: our
    // check of the header is the first line, this the second.
    QImageReader::setAllocationLimit(128);
}

TPaneImageLoader::~TPaneImageLoader() {
    FCancel->Cancel();
    FPool.clear();
    FPool.waitForDone();
}

void TPaneImageLoader::Request(const QUrl& url, int maxWidth) {
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        emit Loaded(url, {}, QStringLiteral("refused"));
        return;
    }
    if (FPending.contains(url)) return;
    FPending.insert(url, true);
    FPool.start([url, maxWidth, cache = FCache, cancel = FCancel, self = QPointer<TPaneImageLoader>(this)] {
        QString error;
        QImage image;
        const QByteArray bytes = FetchBytes(url, cache, cancel, &error);
        if (!bytes.isEmpty())
            image = DecodePaneImage(bytes, maxWidth, &error);
        else if (error.isEmpty())
            error = QStringLiteral("empty answer");
        if (cancel->Cancelled()) return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, url, image, error] {
                if (!self) return;
                self->FPending.remove(url);
                emit self->Loaded(url, image, error);
            },
            Qt::QueuedConnection);
    });
}

}  // namespace quillet
