// A stored copy made into its page: the one build both reading panes show.
//
// The stylesheet named by the copy's <?xml-stylesheet?> instruction is
// applied with libxslt (PageStylesheet.h) after the feed's markup has been
// cleaned by the allow-list, on a worker thread: reading, cleaning and
// transforming a large feed takes seconds, which the window must not wait
// for. Neither Qt WebEngine nor any widget is touched here, so the light
// pane builds its pages without the engine.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

#include "FeedPageFunctions.h"

namespace quillet {

// Which pane a page is built for. The light pane's rich text lacks some of
// the CSS the page uses, so the stylesheet is told (its parameter `pane`,
// 'light') and may write markup that pane understands instead.
enum class TPageTarget { Engine, Light };

// Cleans, in a parsed stored copy, the text of every element the stylesheet
// writes out as HTML (an item's description and full text,
// content:encoded), with the allow-list sanitiser. Entity references are
// dropped. The document is an xmlDoc; its file on disk is never changed.
void SanitizeFeedMarkup(void* xmlDocument);

// Transforms a local XML file through the stylesheet its xml-stylesheet
// instruction names. Returns false (and leaves html untouched) when the
// file has no usable XSL instruction; raises std::runtime_error with a
// readable message when the file or the stylesheet is broken. Safe to call
// on any thread, on several at once. `scheme` ("light", "dark" or empty
// for the stylesheet's default) is the colour scheme the page follows.
bool TransformLocalXml(const QString& path, QByteArray& html, const QString& scheme = QString(),
                       TPageTarget target = TPageTarget::Engine);

// How the reader wants pages set: a font and size over the page's own, the
// longest line in characters (0: the pane's width), the home's user.css
// applied last, and the zoom in steps of a tenth.
struct TPageStyle {
    QString FontFamily;
    int FontPointSize = 0;
    int MaxLineChars = 0;
    QString UserCss;
    int Zoom = 0;
    static constexpr int kMinZoom = -5, kMaxZoom = 10;
    // The desktop's font size in points: while the reader chose no size,
    // the page's own sizes (written for a kPagePointSize body) follow it.
    // 0 leaves them as written.
    double DesktopPointSize = 0;
    static constexpr double kPagePointSize = 10;
    bool operator==(const TPageStyle&) const = default;
};

// The page's HTML with the style's rules after its own and its point sizes
// zoomed, for either pane.
QString StyledPage(const QString& html, const TPageStyle& style, TPageTarget target);

// A page for a file that could not be made into one: its path and why.
QByteArray ErrorPage(const QString& path, const QString& message);

// One stored copy made into a page on a worker thread. The worker shares
// only this object with the pane and never touches the pane itself; the
// pane takes the result on its own thread, and only if it still wants it.
class TPageBuild {
public:
    TPageBuild(const QString& path, const QString& scheme, TPageMarks marks, TPageTarget target = TPageTarget::Engine)
        : FPath(path), FScheme(scheme), FMarks(std::move(marks)), FTarget(target) {}
    const TPageMarks& Marks() const { return FMarks; }
    const QString& Path() const { return FPath; }

    // Asked from the user-interface thread when a newer navigation or the
    // pane's end makes the page useless; the worker stops at its next step.
    void Drop() { FDropped.store(true, std::memory_order_relaxed); }
    bool Dropped() const { return FDropped.load(std::memory_order_relaxed); }

    // Runs on the worker. Afterwards either the page is ready (a
    // transformation or an error page) or the file has no stylesheet and
    // is for the pane to open as it is. The engine's page gets a <base> of
    // the file's folder, as it is served under a scheme of its own.
    void Run();
    // Also on the worker: the reader's style laid over a finished page, so
    // a page of tens of megabytes is never re-encoded on the window's thread.
    void ApplyStyle(const TPageStyle& style);

    // Read on the user-interface thread once the worker has finished (the
    // queued delivery orders the accesses).
    bool HasPage() const { return FHasPage; }
    // The page is an error page: it shows none of the feed's items.
    bool Failed() const { return FFailed; }
    const QByteArray& Html() const { return FHtml; }

private:
    const QString FPath;
    const QString FScheme;
    const TPageMarks FMarks;
    const TPageTarget FTarget;
    std::atomic<bool> FDropped{false};
    bool FHasPage = false;
    bool FFailed = false;
    QByteArray FHtml;
};

}  // namespace quillet
