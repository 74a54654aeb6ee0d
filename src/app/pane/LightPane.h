// The light reading pane: a feed's page in Qt's own rich text, in the
// window's process, in a few megabytes.
//
// Feed pages are sanitised HTML without script, frames, objects or forms,
// so they need no web engine. The page is built as for the engine pane
// (PageBuild.h: the home's rss.xsl through libxslt on a worker thread, with
// the same page functions and cleaned bodies), the stylesheet being told
// that the page is for this pane. The pane shows it and nothing else:
//  - it loads nothing by itself. Every resource the page names comes
//    through loadResource, which never reads a file: style sheets are
//    empty, pictures are placeholders until the image loader brings them
//    (http and https only, only while web images are on, never file: or a
//    local path), and small data: pictures are decoded in place;
//  - a click on a link asks the handler (OnBeforeNavigate) as the engine
//    pane does, and only for http, https, mailto and the program's article
//    requests; an address allowed through goes to the desktop's browser;
//    the page's links to its own items only scroll;
//  - each page's scroll position is kept while the program runs, so a feed
//    shown again comes back where it was left;
//  - a long page shows its beginning first (as far as a screen past where
//    the reader left it), made into rich text before the rest, which takes
//    its place where the reader is.
#pragma once

#include <QHash>
#include <QImage>
#include <QSet>
#include <QString>
#include <QTextBlock>
#include <QColor>
#include <QPalette>
#include <QTextBrowser>

#include <optional>
#include <QTextDocument>
#include <QUrl>

#include <functional>
#include <memory>

class QMenu;

#include "FeedPageFunctions.h"
#include "ItemCursor.h"
#include "ItemMenu.h"
#include "PageBuild.h"

namespace quillet {
class TPageBuild;
class TPaneImageCache;
class TPaneImageLoader;
}  // namespace quillet

class TLightPane : public QTextBrowser {
    Q_OBJECT
public:
    // The most decoded picture bytes of one page; pictures beyond show as
    // placeholders.
    static constexpr qint64 kMaxPageImageBytes = qint64(96) << 20;

    explicit TLightPane(QWidget* parent = nullptr);
    ~TLightPane() override;

    // Shows a stored copy (a local path) with its page marks once the
    // before-navigate handler has let it open; built on a worker, the
    // current page staying until the new one is ready.
    void Navigate(const QString& path, const quillet::TPageMarks& marks = {});
    // Opens an address already allowed: a local path is shown as its page,
    // about:blank empties the pane, a web or mail address goes to the
    // desktop (OnOpenExternally); anything else is refused.
    void Open(const QString& address);
    // Shows nothing; the scroll positions are kept.
    void Clear();

    // The address last opened.
    QString LocationURL() const { return FLocation; }
    bool PageBuildPending() const { return FPageBuild != nullptr; }

    // Whether http and https pictures are loaded. On by default.
    void SetShowWebImages(bool show);
    bool ShowWebImages() const { return FShowWebImages; }
    // "light" or "dark": the page built from now on, and the pane's colours.
    void SetColorScheme(const QString& scheme);
    const QString& ColorScheme() const { return FColorScheme; }
    // A high-contrast desktop's colours, which the page takes whole in
    // place of its own shades (greys and blues that such a desktop's reader
    // cannot tell apart); none gives the page its own colours back.
    struct TForcedColours {
        QColor Text, Base, Link;
        bool operator==(const TForcedColours&) const = default;
    };
    void SetForcedColours(const std::optional<TForcedColours>& colours);
    // The colours a palette forces on pages: a high-contrast one's (its
    // window all but black or white, its text at 15:1 or more), else none.
    static std::optional<TForcedColours> HighContrastColours(const QPalette& palette);
    // Where fetched pictures are kept between runs; none by default.
    void SetImageCache(std::shared_ptr<quillet::TPaneImageCache> cache);

    // How the reader wants pages set (PageBuild.h); the page on show is set
    // again, where it was.
    using TPageStyle = quillet::TPageStyle;
    // The desktop's font size goes with it (TPageStyle::DesktopPointSize).
    void SetPageStyle(const TPageStyle& style);
    const TPageStyle& PageStyle() const { return FStyle; }

    // Brings the element of this item anchor into view.
    void ScrollToItem(const QString& anchor);
    // Gives the star link `from` the address `to` and the text `text` in
    // place, where the page stands; false when the page has no such link.
    bool SetStarLink(const QString& from, const QString& to, const QString& text);
    // The star link of the item the reader is at: the last whose title lies
    // above the top quarter of the view, else the first; "" for none.
    QString StarLinkInView() const;
    // The page's items in order (ItemCursor.h), and the anchor of the item
    // the reader is at ("" above the first).
    std::vector<pane::TPageItem> PageItems() const;
    QString ItemAnchorInView() const;
    // Makes the item of `anchor` the current one: its heading near the top
    // with a mark beside it, and the text cursor at its start, which a
    // screen reader follows; false when the page has no such item.
    bool SetCurrentItem(const QString& anchor);
    const QString& CurrentItem() const { return FCurrentItem; }
    // Gives the item of `anchor` its new mark and state word, or takes
    // them away, in place; `newWord` is the word its heading says.
    bool SetItemNew(const QString& anchor, bool isNew, const QString& newWord);
    // Opens an item's link as a click on it does.
    void OpenLink(const QUrl& link) { LinkClicked(link); }
    // The item's own actions (ItemMenu.h) join the text's menu where the
    // pointer is on an item.
    void SetItemMenuTexts(pane::TItemMenuTexts texts) { FItemMenuTexts = std::move(texts); }
    QMenu* ItemMenu(const QPoint& pos);
    // Pictures of the shown page still on their way.
    int ImagesPending() const;

    // What becomes of a clicked link.
    enum class TLinkVerdict { Ask, Refuse };
    static TLinkVerdict CheckLink(const QUrl& url);

    // Asked before a link or a Navigate opens: set cancel to stay.
    std::function<void(const QString& address, bool& cancel)> OnBeforeNavigate;
    // Hands a web or mail address to the desktop (tests catch it).
    std::function<void(const QUrl& url)> OnOpenExternally;

signals:
    // The beginning of a long page is on show; NavigateComplete follows
    // with the whole.
    void PageBegun(const QString& address);
    void NavigateComplete(const QString& address, bool ok);
    // The page built for the marks of this serial is on show.
    void PageShown(qint64 serial);
    // The hovered link's address, "" when the pointer left it.
    void StatusTextChange(const QString& text);

protected:
    QVariant loadResource(int type, const QUrl& name) override;

    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void LinkClicked(const QUrl& link);
    // The star link of the item at a place in the document: the last one at
    // or before it, else the first after it.
    QString StarLinkAt(int position) const;
    void LoadLocal(const QString& path);
    // A built page made into rich text on the worker, for the pane's
    // thread to take (its document is deleted when it is not taken).
    struct TPreparedPage {
        QString Html;
        QUrl Base;
        TPageStyle Style;
        std::unique_ptr<QTextDocument> Document;
    };
    static TPreparedPage PreparePage(const quillet::TPageBuild& build);
    // Where a long page's beginning ends (at an item), or -1: a screen past
    // the item of `anchor` when the reader left the page there.
    static qsizetype BeginningEnd(const QString& html, const QString& anchor);
    // The rich text of a page, made on the worker for the pane's thread.
    static QTextDocument* MakeDocument(const TPreparedPage& page);
    void BeginningBuilt(const std::shared_ptr<quillet::TPageBuild>& build, TPreparedPage& page);
    void PageBuilt(const std::shared_ptr<quillet::TPageBuild>& build, TPreparedPage& page);
    // Shows a document made on the worker; the pane answers its resources.
    void TakeDocument(TPreparedPage& page);
    void DropPageBuild();
    void KeepPosition();
    // Where a page was left: the block at the view's top and how far into it.
    struct TPosition {
        int Block = 0;
        int Offset = 0;
        QString Anchor;  // of the item there, for the page's beginning
    };
    void RestorePosition(const TPosition& kept);
    // The anchor of the item a block belongs to ("" for none).
    QString ItemAnchorAt(QTextBlock block) const;
    void ScrollTo(int y);
    // The block of an item's heading; invalid for none.
    QTextBlock HeadingBlock(const QString& anchor) const;
    // The current item's mark, on the document on show.
    void ShowCurrentMark();
    // The same change in the page's HTML, which a new style sets again.
    void SetItemNewInHtml(const QString& anchor, bool isNew, const QString& newWord);
    // Sets the page's HTML in the current style.
    void ShowPage();
    // Text put in (delta > 0) or taken out at `from`: the pictures after it
    // moved.
    void ShiftImages(int from, int delta);
    // The page's pictures, found once it is set, and sent for.
    void RequestImages();
    void ImageLoaded(const QUrl& url, const QImage& image, const QString& error);
    void SetImage(const QUrl& url, const QImage& image);
    // What stands for a picture not (yet) shown: a transparent dot while it
    // comes or when web pictures are off, its address where it failed.
    QImage Placeholder(const QUrl& url, bool failed) const;
    int ImageWidth() const;

    QString FLocation;
    // The stored copy on show, and the page's base for relative addresses.
    QString FShownPath;
    QUrl FBase;
    QString FColorScheme = QStringLiteral("light");
    std::optional<TForcedColours> FForced;
    void ForceColours();
    bool FShowWebImages = true;
    quillet::TPageMarks FMarks;
    QString FMarkedPath;
    std::shared_ptr<quillet::TPageBuild> FPageBuild;
    QHash<QString, TPosition> FPositions;
    QString FPageHtml;
    TPageStyle FStyle;
    quillet::TPaneImageLoader* FLoader = nullptr;
    // The pictures of the page on show: their names as the page writes
    // them, and where they stand, by resolved address.
    struct TPageImage {
        QSet<QString> Names;
        QList<int> Positions;
        bool Failed = false;
        bool Arrived = false;
    };
    QHash<QUrl, TPageImage> FImages;
    qint64 FImageBytes = 0;
    pane::TItemMenuTexts FItemMenuTexts;
    QString FCurrentItem;
};
