// The light pane's images: fetched off the window's thread through the
// program's HTTP client (deadline, size cap, the program's User-Agent,
// conditional requests against the disk cache), decoded with bounds, and
// handed back to the window's thread.
//
// A picture is decoded only when its header names a size within
// kMaxImagePixels, and scaled down to the pane's width, so a small file
// that claims to be enormous (a 30,000 x 30,000 PNG of a few kilobytes)
// costs nothing; a malformed file, a refused address or a failed fetch
// comes back as an error, never as a partial picture.
#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QUrl>

#include <memory>

namespace http {
class TCancelToken;
}

namespace quillet {

class TPaneImageCache;

// The most pixels of one picture as its file describes it.
inline constexpr qint64 kMaxImagePixels = qint64(16) << 20;
// The largest image file fetched.
inline constexpr std::size_t kMaxImageFileBytes = std::size_t(8) << 20;
// The longest a data: address may be (its text, as the page has it).
inline constexpr qsizetype kMaxDataImageChars = 64 * 1024;

// Decodes a picture's bytes: no wider than maxWidth (0 for any width),
// nothing above kMaxImagePixels, only the common web formats. A null image
// and a reason in `error` for anything else.
QImage DecodePaneImage(const QByteArray& bytes, int maxWidth, QString* error = nullptr);

// A data: address's picture, when it is short enough and an image.
QImage DecodeDataImage(const QUrl& url, int maxWidth, QString* error = nullptr);

class TPaneImageLoader : public QObject {
    Q_OBJECT
public:
    explicit TPaneImageLoader(QObject* parent = nullptr);
    // Cancels the fetches in flight and waits for the workers.
    ~TPaneImageLoader() override;

    // Where fetched pictures are kept; none by default.
    void SetCache(std::shared_ptr<TPaneImageCache> cache) { FCache = std::move(cache); }
    const std::shared_ptr<TPaneImageCache>& Cache() const { return FCache; }

    // Fetches an http or https picture; Loaded comes once, on this object's
    // thread, unless a fetch of the same address is in flight already (that
    // one answers). `maxWidth` scales it down.
    void Request(const QUrl& url, int maxWidth);
    int Pending() const { return FPending.size(); }

signals:
    // A null image when it could not be had; `error` says why.
    void Loaded(const QUrl& url, const QImage& image, const QString& error);

private:
    QThreadPool FPool;
    std::shared_ptr<http::TCancelToken> FCancel;
    std::shared_ptr<TPaneImageCache> FCache;
    QHash<QUrl, bool> FPending;
};

}  // namespace quillet
