#include "LightPane.h"

#include <QAbstractTextDocumentLayout>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "PageBuild.h"
#include "PaneImageCache.h"
#include "PaneImageLoader.h"
#include "PaneProtocol.h"

namespace {

using quillet::TPageBuild;

bool IsWeb(const QString& scheme) { return scheme == QLatin1String("http") || scheme == QLatin1String("https"); }

bool IsLocalPath(const QString& address) {
    return QDir::isAbsolutePath(address) && !address.contains(QLatin1String("://"));
}

// The <base href> the stylesheet wrote (the feed's site), looked for only
// at the start of the page, as the engine pane does.
QUrl PageBase(const QByteArray& html) {
    thread_local const QRegularExpression base(QStringLiteral(R"re(<base\b[^>]*\bhref\s*=\s*["']([^"']*)["'])re"),
                                               QRegularExpression::CaseInsensitiveOption);
    const QString start = QString::fromUtf8(html.left(4096));
    const int headEnd = start.indexOf(QLatin1String("</head>"), 0, Qt::CaseInsensitive);
    const auto m = base.match(headEnd >= 0 ? start.left(headEnd) : start);
    if (!m.hasMatch()) return {};
    const QUrl url(m.captured(1).replace(QLatin1String("&amp;"), QLatin1String("&")));
    return IsWeb(url.scheme().toLower()) ? url : QUrl();
}

}  // namespace

TLightPane::TLightPane(QWidget* parent) : QTextBrowser(parent) {
    setObjectName(QStringLiteral("LightPane"));
    setFrameShape(QFrame::NoFrame);
    // Links are decided here, never followed by the widget itself.
    setOpenLinks(false);
    setOpenExternalLinks(false);
    OnOpenExternally = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    FLoader = new quillet::TPaneImageLoader(this);
    connect(FLoader, &quillet::TPaneImageLoader::Loaded, this, &TLightPane::ImageLoaded);
    connect(this, &QTextBrowser::anchorClicked, this, &TLightPane::LinkClicked);
    connect(this, QOverload<const QUrl&>::of(&QTextBrowser::highlighted), this, [this](const QUrl& link) {
        emit StatusTextChange(link.isEmpty() ? QString() : pane::StatusText(FBase.resolved(link).toString()));
    });
    SetColorScheme(FColorScheme);
    FStyle.DesktopPointSize = font().pointSizeF();
}

TLightPane::~TLightPane() { DropPageBuild(); }

void TLightPane::changeEvent(QEvent* event) {
    QTextBrowser::changeEvent(event);
    // A new desktop font sets the page again in its size.
    if (event->type() == QEvent::FontChange && !qFuzzyCompare(font().pointSizeF(), FStyle.DesktopPointSize))
        SetPageStyle(FStyle);
}

TLightPane::TLinkVerdict TLightPane::CheckLink(const QUrl& url) {
    // The user's choice, but only to the web or to mail: other schemes
    // would hand the address to whatever program claims it. An item's
    // "Read the full article" is a request the main window takes.
    const QString scheme = url.scheme().toLower();
    return IsWeb(scheme) || scheme == QLatin1String("mailto") || scheme == QLatin1String(pane::kArticleRequestScheme) ||
                   scheme == QLatin1String(pane::kStarRequestScheme)
               ? TLinkVerdict::Ask
               : TLinkVerdict::Refuse;
}

void TLightPane::LinkClicked(const QUrl& link) {
    const QUrl url = FBase.resolved(link);
    // The page's own links to its items (the "N new" line) only scroll.
    if (url.fragment().startsWith(QLatin1String(quillet::kItemAnchorPrefix)) &&
        (link.toString().startsWith(QLatin1Char('#')) || url.adjusted(QUrl::RemoveFragment) == FBase)) {
        ScrollToItem(url.fragment());
        return;
    }
    if (CheckLink(url) == TLinkVerdict::Refuse) return;
    const QString address = url.toString();
    bool cancel = false;
    if (OnBeforeNavigate) OnBeforeNavigate(address, cancel);
    if (!cancel) Open(address);
}

void TLightPane::Navigate(const QString& path, const quillet::TPageMarks& marks) {
    const QUrl asUrl(path);
    const QString address = asUrl.isLocalFile() ? asUrl.toLocalFile() : path;
    FMarks = marks;
    FMarkedPath = address;
    bool cancel = false;
    if (OnBeforeNavigate) OnBeforeNavigate(address, cancel);
    if (!cancel) Open(address);
}

void TLightPane::Open(const QString& address) {
    if (IsLocalPath(address)) {
        LoadLocal(address);
        return;
    }
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    if (address == QLatin1String("about:blank")) {
        Clear();
        FLocation = address;
    } else if ((IsWeb(scheme) || scheme == QLatin1String("mailto")) && OnOpenExternally)
        // A web page is the desktop browser's: this pane shows feed pages.
        OnOpenExternally(url);
}

void TLightPane::Clear() {
    DropPageBuild();
    KeepPosition();
    FShownPath.clear();
    FLocation.clear();
    FImages.clear();
    FImageBytes = 0;
    FPageHtml.clear();
    FCurrentItem.clear();
    setExtraSelections({});
    document()->clear();
}

void TLightPane::KeepPosition() {
    if (FShownPath.isEmpty()) return;
    const QTextBlock block = cursorForPosition(QPoint(0, 0)).block();
    const int top = int(document()->documentLayout()->blockBoundingRect(block).top());
    FPositions[FShownPath] = {block.position(), verticalScrollBar()->value() - top, ItemAnchorAt(block)};
}

QString TLightPane::ItemAnchorAt(QTextBlock block) const {
    const QLatin1String prefix(quillet::kItemAnchorPrefix);
    for (; block.isValid(); block = block.previous()) {
        QString found;
        for (auto it = block.begin(); !it.atEnd(); ++it)
            for (const QString& name : it.fragment().charFormat().anchorNames())
                if (name.startsWith(prefix)) found = name;
        if (!found.isEmpty()) return found;
    }
    return {};
}

void TLightPane::RestorePosition(const TPosition& kept) {
    // Laid out only as far as the block: the whole of a long page would
    // hold the window.
    const QTextBlock block = document()->findBlock(kept.Block);
    ScrollTo(int(document()->documentLayout()->blockBoundingRect(block).top()) + kept.Offset);
}

void TLightPane::ScrollTo(int y) {
    // The range of a page laid out lazily is an estimate that may not reach
    // a place laid out just now; it grows to the true one as layout goes on.
    QScrollBar* bar = verticalScrollBar();
    if (y > bar->maximum()) bar->setRange(0, y);
    bar->setValue(y);
}

void TLightPane::LoadLocal(const QString& path) {
    DropPageBuild();
    FLocation = path;
    // The current item is the page's: another page starts without one.
    if (path != FShownPath) FCurrentItem.clear();
    // Marks belong to the navigation that brought them, never to a page
    // opened some other way.
    quillet::TPageMarks marks;
    if (path == FMarkedPath) marks = std::move(FMarks);
    FMarks = {};
    FMarkedPath.clear();
    // A page opened at its top, or where the reader left it, may show its
    // beginning first.
    const auto kept = FPositions.constFind(path);
    const bool beginningFirst = marks.Target.empty() && (kept == FPositions.constEnd() || !kept->Anchor.isEmpty());
    const QString keptAnchor = kept != FPositions.constEnd() ? kept->Anchor : QString();
    auto build = std::make_shared<TPageBuild>(path, FColorScheme, std::move(marks), quillet::TPageTarget::Light);
    FPageBuild = build;
    QThreadPool::globalInstance()->start(
        [build, style = FStyle, beginningFirst, keptAnchor, pane = QPointer<TLightPane>(this)] {
            if (!build->Dropped()) build->Run();
            if (build->Dropped()) return;
            // The rich text is made here too: parsing a large page would hold
            // the window for a good part of a second. The document loads
            // nothing meanwhile; the pane answers its resources once it has it.
            const auto deliver = [&](std::shared_ptr<TPreparedPage> page, bool whole) {
                page->Style = style;
                page->Document.reset(MakeDocument(*page));
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [build, pane, page, whole] {
                        if (!pane) return;
                        if (whole)
                            pane->PageBuilt(build, *page);
                        else
                            pane->BeginningBuilt(build, *page);
                    },
                    Qt::QueuedConnection);
            };
            auto prepared = std::make_shared<TPreparedPage>(PreparePage(*build));
            if (const qsizetype end = beginningFirst ? BeginningEnd(prepared->Html, keptAnchor) : -1; end > 0) {
                auto beginning = std::make_shared<TPreparedPage>();
                beginning->Html = prepared->Html.left(end);
                beginning->Base = prepared->Base;
                deliver(std::move(beginning), false);
            }
            if (!build->Dropped()) deliver(std::move(prepared), true);
        });
}

qsizetype TLightPane::BeginningEnd(const QString& html, const QString& anchor) {
    // Rich text made of this much takes a few milliseconds; a page under
    // four times as long is made whole at once.
    constexpr qsizetype kBeginning = 48 * 1024;
    if (html.size() < 4 * kBeginning) return -1;
    qsizetype from = 0;
    if (!anchor.isEmpty()) {
        from = html.indexOf(QLatin1String("name=\"") + anchor + QLatin1Char('"'));
        if (from < 0) return -1;
    }
    // Cut before an item: the parser closes what the cut leaves open.
    const qsizetype at = html.indexOf(QLatin1String("<div class=\"item"), from + kBeginning);
    return at > 0 && at < html.size() / 4 * 3 ? at : -1;
}

QTextDocument* TLightPane::MakeDocument(const TPreparedPage& page) {
    auto* document = new QTextDocument;
    document->setResourceProvider([](const QUrl&) { return QVariant(QStringLiteral(" ")); });
    document->setBaseUrl(page.Base);
    document->setHtml(quillet::StyledPage(page.Html, page.Style, quillet::TPageTarget::Light));
    document->moveToThread(QCoreApplication::instance()->thread());
    return document;
}

TLightPane::TPreparedPage TLightPane::PreparePage(const TPageBuild& build) {
    TPreparedPage page;
    if (build.HasPage()) {
        page.Html = QString::fromUtf8(build.Html());
        page.Base = PageBase(build.Html());
    } else {
        // A copy without a stylesheet instruction: its text, as text.
        QFile file(build.Path());
        const QString text =
            file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.read(8 << 20)).toHtmlEscaped() : QString();
        page.Html = QStringLiteral("<pre>") + text + QStringLiteral("</pre>");
    }
    return page;
}

void TLightPane::DropPageBuild() {
    if (FPageBuild) FPageBuild->Drop();
    FPageBuild.reset();
}

void TLightPane::TakeDocument(TPreparedPage& page) {
    // From now on the pane answers the document's resources.
    // The widget's own first document goes with the widget's control.
    const QPointer<QTextDocument> previous = document();
    page.Document->setResourceProvider(nullptr);
    page.Document->setParent(this);
    FImages.clear();
    FImageBytes = 0;
    setExtraSelections({});
    setDocument(page.Document.release());
    if (previous && previous->parent() == this) previous->deleteLater();
    ForceColours();
    ShowCurrentMark();
}

void TLightPane::BeginningBuilt(const std::shared_ptr<TPageBuild>& build, TPreparedPage& page) {
    if (build != FPageBuild || page.Style != FStyle) return;
    // A beginning short of the reader's place (the page changed) waits for
    // the whole.
    const auto found = FPositions.constFind(build->Path());
    const std::optional<TPosition> kept =
        found != FPositions.constEnd() ? std::optional<TPosition>(*found) : std::nullopt;
    if (kept && kept->Block >= page.Document->characterCount()) return;
    KeepPosition();
    FShownPath = build->Path();
    FBase = page.Base;
    TakeDocument(page);
    if (kept)
        RestorePosition(*kept);
    else
        verticalScrollBar()->setValue(0);
    // Its pictures are asked for with the whole page's, which follows.
    emit PageBegun(FLocation);
}

void TLightPane::PageBuilt(const std::shared_ptr<TPageBuild>& build, TPreparedPage& page) {
    if (build != FPageBuild) return;  // a newer navigation took its place
    FPageBuild.reset();
    // The beginning on show keeps its place: the reader may have scrolled.
    KeepPosition();
    const QString path = build->Path();
    FShownPath = path;
    FPageHtml = page.Html;
    FBase = page.Base;
    if (page.Document && page.Style == FStyle) {
        TakeDocument(page);
        RequestImages();
    } else
        ShowPage();  // the style changed meanwhile

    const QString target =
        build->Marks().Target.empty() ? QString() : QString::fromStdString(quillet::ItemAnchor(build->Marks().Target));
    if (!target.isEmpty())
        ScrollToItem(target);
    else if (const auto kept = FPositions.constFind(path); kept != FPositions.constEnd())
        RestorePosition(*kept);
    else
        verticalScrollBar()->setValue(0);
    emit NavigateComplete(FLocation, true);
    if (!build->Failed() && build->Marks().Serial) emit PageShown(build->Marks().Serial);
}

namespace {

bool IsStarLink(const QTextFragment& fragment) {
    return fragment.charFormat().isAnchor() &&
           fragment.charFormat().anchorHref().startsWith(QLatin1String(pane::kStarRequestScheme) + QLatin1Char(':'));
}

}  // namespace

bool TLightPane::SetStarLink(const QString& from, const QString& to, const QString& text) {
    bool found = false;
    // The rich text first: the page stays where it is.
    for (QTextBlock block = document()->begin(); block.isValid() && !found; block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || fragment.charFormat().anchorHref() != from) continue;
            QTextCharFormat format = fragment.charFormat();
            format.setAnchorHref(to);
            const int at = fragment.position(), length = fragment.length();
            QTextCursor cursor(document());
            cursor.setPosition(at);
            cursor.setPosition(at + length, QTextCursor::KeepAnchor);
            cursor.insertText(text, format);
            // The pictures after it moved with the new text.
            ShiftImages(at, int(text.size()) - length);
            found = true;
            break;
        }
    }
    // Then the page's HTML, which a new style sets again.
    const QString fromAttribute = QStringLiteral("href=\"") + from.toHtmlEscaped() + QLatin1Char('"');
    const qsizetype at = FPageHtml.indexOf(fromAttribute);
    const qsizetype open = at < 0 ? -1 : FPageHtml.lastIndexOf(QLatin1String("<a "), at);
    const qsizetype close = at < 0 ? -1 : FPageHtml.indexOf(QLatin1String("</a>"), at);
    if (open >= 0 && close > at) {
        const bool starred = !to.contains(QLatin1String("?on=1&"));
        FPageHtml.replace(
            open, close - open,
            QStringLiteral("<a href=\"%1\" class=\"%2\">%3")
                .arg(to.toHtmlEscaped(), starred ? QStringLiteral("star starred") : QStringLiteral("star"),
                     text.toHtmlEscaped()));
    }
    return found;
}

QString TLightPane::StarLinkInView() const {
    return StarLinkAt(cursorForPosition(QPoint(0, viewport()->height() / 4)).position());
}

QString TLightPane::StarLinkAt(int line) const {
    QString before, after;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || !IsStarLink(fragment)) continue;
            if (fragment.position() <= line)
                before = fragment.charFormat().anchorHref();
            else if (after.isEmpty())
                after = fragment.charFormat().anchorHref();
        }
        if (!after.isEmpty()) break;
    }
    return before.isEmpty() ? after : before;
}

QMenu* TLightPane::ItemMenu(const QPoint& pos) {
    QMenu* menu = createStandardContextMenu(pos);
    pane::AddItemActions(*menu, StarLinkAt(cursorForPosition(pos).position()), FItemMenuTexts,
                         [this](const QString& address) { LinkClicked(QUrl(address)); });
    return menu;
}

void TLightPane::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu(ItemMenu(viewport()->mapFromGlobal(event->globalPos())));
    menu->exec(event->globalPos());
}

void TLightPane::ShowPage() {
    FImages.clear();
    FImageBytes = 0;
    document()->setBaseUrl(FBase);
    setExtraSelections({});
    setHtml(quillet::StyledPage(FPageHtml, FStyle, quillet::TPageTarget::Light));
    ForceColours();
    ShowCurrentMark();
    RequestImages();
}

void TLightPane::SetPageStyle(const TPageStyle& chosen) {
    // The pane's font is the desktop's unless the reader chose a size.
    TPageStyle style = chosen;
    style.DesktopPointSize = font().pointSizeF();
    if (style == FStyle) return;
    FStyle = style;
    FStyle.Zoom = std::clamp(FStyle.Zoom, quillet::TPageStyle::kMinZoom, quillet::TPageStyle::kMaxZoom);
    const double factor = 1.0 + 0.1 * FStyle.Zoom;
    if (FStyle.MaxLineChars > 0) {
        setLineWrapMode(QTextEdit::FixedPixelWidth);
        setLineWrapColumnOrWidth(int(FStyle.MaxLineChars * fontMetrics().averageCharWidth() * factor));
    } else
        setLineWrapMode(QTextEdit::WidgetWidth);
    if (FShownPath.isEmpty()) return;
    // The same place of the page stays in view.
    const QScrollBar* bar = verticalScrollBar();
    const double at = bar->maximum() > 0 ? double(bar->value()) / bar->maximum() : 0;
    ShowPage();
    document()->documentLayout()->documentSize();
    verticalScrollBar()->setValue(int(at * verticalScrollBar()->maximum()));
}

void TLightPane::ScrollToItem(const QString& anchor) {
    if (anchor.isEmpty()) return;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().anchorNames().contains(anchor)) {
                // Laid out only as far as the item.
                ScrollTo(int(document()->documentLayout()->blockBoundingRect(block).top()));
                return;
            }
}

void TLightPane::SetShowWebImages(bool show) {
    if (show == FShowWebImages) return;
    FShowWebImages = show;
    // Pictures asked for from now on follow the switch; the page on show
    // sends for its pictures once they are allowed.
    if (show) RequestImages();
}

void TLightPane::SetColorScheme(const QString& scheme) {
    FColorScheme = scheme == QLatin1String("dark") ? scheme : QStringLiteral("light");
    // Below a short page the pane shows its own colours: the page's.
    QPalette colours = palette();
    const bool dark = FColorScheme == QLatin1String("dark");
    colours.setColor(QPalette::Base, FForced ? FForced->Base : dark ? QColor(0x1e, 0x1f, 0x22) : QColor(Qt::white));
    colours.setColor(QPalette::Text, FForced ? FForced->Text
                                     : dark  ? QColor(0xdc, 0xdc, 0xdc)
                                             : QColor(0x22, 0x22, 0x22));
    colours.setColor(QPalette::Link, FForced ? FForced->Link
                                     : dark  ? QColor(0x8a, 0xb4, 0xf8)
                                             : QColor(0x1d, 0x3f, 0x66));
    setPalette(colours);
}

namespace {

double Luminance(const QColor& colour) {
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double ContrastRatio(const QColor& a, const QColor& b) {
    const double one = Luminance(a), two = Luminance(b);
    return (std::max(one, two) + 0.05) / (std::min(one, two) + 0.05);
}

}  // namespace

std::optional<TLightPane::TForcedColours> TLightPane::HighContrastColours(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    const bool extreme = window.lightness() <= 16 || window.lightness() >= 250;
    if (!extreme || ContrastRatio(window, palette.color(QPalette::WindowText)) < 15) return std::nullopt;
    TForcedColours colours{palette.color(QPalette::Text), palette.color(QPalette::Base), palette.color(QPalette::Link)};
    if (ContrastRatio(colours.Text, colours.Base) < 7) colours = {palette.color(QPalette::WindowText), window, {}};
    // A link the reader could not see is given the text's colour; links
    // stay underlined, so they are still told apart.
    if (!colours.Link.isValid() || ContrastRatio(colours.Link, colours.Base) < 4.5) colours.Link = colours.Text;
    return colours;
}

void TLightPane::SetForcedColours(const std::optional<TForcedColours>& colours) {
    if (colours == FForced) return;
    const bool was = FForced.has_value();
    FForced = colours;
    SetColorScheme(FColorScheme);
    if (FForced)
        ForceColours();
    else if (was && !FPageHtml.isEmpty())
        ShowPage();  // the page's own shades back
}

void TLightPane::ForceColours() {
    if (!FForced) return;
    // Ranges first: changing a fragment's format while walking the
    // fragments would move the walk.
    struct TRange {
        int From, To;
        bool Link;
    };
    std::vector<TRange> ranges;
    QTextDocument* page = document();
    for (QTextBlock block = page->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            const bool link = format.isAnchor() && !format.anchorHref().isEmpty();
            const QColor want = link ? FForced->Link : FForced->Text;
            if (format.foreground().color() != want || format.hasProperty(QTextFormat::BackgroundBrush))
                ranges.push_back({fragment.position(), fragment.position() + fragment.length(), link});
        }
    QTextCursor cursor(page);
    cursor.beginEditBlock();
    for (const TRange& range : ranges) {
        cursor.setPosition(range.From);
        cursor.setPosition(range.To, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setForeground(range.Link ? FForced->Link : FForced->Text);
        format.setBackground(Qt::NoBrush);
        cursor.mergeCharFormat(format);
    }
    cursor.endEditBlock();
}

void TLightPane::SetImageCache(std::shared_ptr<quillet::TPaneImageCache> cache) { FLoader->SetCache(std::move(cache)); }

int TLightPane::ImagesPending() const {
    int pending = 0;
    for (const TPageImage& image : FImages)
        if (!image.Arrived && !image.Failed && FShowWebImages) ++pending;
    return pending;
}

int TLightPane::ImageWidth() const {
    // The page's own padding and the document's margin stay clear.
    return std::max(64, viewport()->width() - 2 * int(document()->documentMargin()) - 32);
}

void TLightPane::RequestImages() {
    QTextDocument* doc = document();
    if (FImages.isEmpty()) {
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                const QTextCharFormat format = fragment.charFormat();
                if (!format.isImageFormat()) continue;
                const QString name = format.toImageFormat().name();
                const QUrl url = FBase.resolved(QUrl(name));
                if (!IsWeb(url.scheme().toLower())) continue;
                TPageImage& image = FImages[url];
                image.Names.insert(name);
                for (int i = 0; i < fragment.length(); ++i) image.Positions << fragment.position() + i;
            }
    }
    if (!FShowWebImages) return;
    const int width = ImageWidth();
    for (auto it = FImages.cbegin(); it != FImages.cend(); ++it)
        if (!it->Arrived && !it->Failed) FLoader->Request(it.key(), width);
}

void TLightPane::ImageLoaded(const QUrl& url, const QImage& image, const QString& error) {
    const auto it = FImages.find(url);
    if (it == FImages.end() || it->Arrived) return;  // another page's
    Q_UNUSED(error);
    if (image.isNull() || FImageBytes + image.sizeInBytes() > kMaxPageImageBytes) {
        it->Failed = true;
        SetImage(url, Placeholder(url, true));
        return;
    }
    it->Arrived = true;
    FImageBytes += image.sizeInBytes();
    SetImage(url, image);
}

void TLightPane::SetImage(const QUrl& url, const QImage& image) {
    const TPageImage& entry = FImages[url];
    QTextDocument* doc = document();
    doc->addResource(QTextDocument::ImageResource, url, image);
    for (const QString& name : entry.Names) doc->addResource(QTextDocument::ImageResource, QUrl(name), image);
    // Only the lines that hold the picture are laid out again.
    for (int position : entry.Positions) doc->markContentsDirty(position, 1);
}

QImage TLightPane::Placeholder(const QUrl& url, bool failed) const {
    if (!failed) {
        QImage dot(1, 1, QImage::Format_ARGB32_Premultiplied);
        dot.fill(Qt::transparent);
        return dot;
    }
    // The address of the picture that could not be shown, in a frame.
    const QString text =
        url.scheme().toLower() == QLatin1String("data") ? QStringLiteral("data:") : url.toDisplayString();
    const QFontMetrics metrics(font());
    const QString shown = metrics.elidedText(text, Qt::ElideMiddle, std::min(ImageWidth(), 600) - 12);
    QImage image(metrics.horizontalAdvance(shown) + 12, metrics.height() + 8, QImage::Format_ARGB32_Premultiplied);
    const bool dark = FColorScheme == QLatin1String("dark");
    image.fill(dark ? QColor(0x2b, 0x2d, 0x31) : QColor(0xf2, 0xf2, 0xf2));
    QPainter painter(&image);
    painter.setPen(dark ? QColor(0x4a, 0x4c, 0x52) : QColor(0xcc, 0xcc, 0xcc));
    painter.drawRect(image.rect().adjusted(0, 0, -1, -1));
    painter.setPen(dark ? QColor(0x9c, 0x9c, 0x9c) : QColor(0x77, 0x77, 0x77));
    painter.setFont(font());
    painter.drawText(image.rect(), Qt::AlignCenter, shown);
    return image;
}

QVariant TLightPane::loadResource(int type, const QUrl& name) {
    // Never null: a null answer would let the document read a local file
    // by itself. Style sheets and pages a page names are empty.
    if (type != QTextDocument::ImageResource) return QVariant(QStringLiteral(" "));
    const QUrl url = FBase.resolved(name);
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("data")) {
        const QImage image = quillet::DecodeDataImage(url, ImageWidth());
        if (image.isNull() || FImageBytes + image.sizeInBytes() > kMaxPageImageBytes) return Placeholder(url, true);
        FImageBytes += image.sizeInBytes();
        return image;
    }
    if (!IsWeb(scheme)) return Placeholder(url, true);  // file:, a local path, qrc: ...
    const auto it = FImages.constFind(url);
    return Placeholder(url, it != FImages.constEnd() && it->Failed);
}

// ---------------------------------------------------------------------------
// Moving from item to item

namespace {

constexpr char16_t kNewMark = 0x25CF;

// The heading's text of an item whose anchor stands in `block`: the anchor
// is an empty element before the heading, which may get a block of its own.
QTextBlock HeadingOf(QTextBlock block) {
    for (int step = 0; block.isValid() && step < 3; ++step, block = block.next())
        if (!block.text().trimmed().isEmpty()) return block;
    return {};
}

bool HasAnchorName(const QTextBlock& block, const QString& anchor) {
    for (auto it = block.begin(); !it.atEnd(); ++it)
        if (it.fragment().charFormat().anchorNames().contains(anchor)) return true;
    return false;
}

QColor StateColour(const QString& scheme) {
    return scheme == QLatin1String("dark") ? QColor(0x5b, 0x8f, 0xd0) : QColor(0x3a, 0x6e, 0xa5);
}

}  // namespace

QTextBlock TLightPane::HeadingBlock(const QString& anchor) const {
    if (anchor.isEmpty()) return {};
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        if (HasAnchorName(block, anchor)) return HeadingOf(block);
    return {};
}

std::vector<pane::TPageItem> TLightPane::PageItems() const {
    std::vector<pane::TPageItem> items;
    const QLatin1String prefix(quillet::kItemAnchorPrefix);
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        QString anchor;
        for (auto it = block.begin(); !it.atEnd() && anchor.isEmpty(); ++it)
            for (const QString& name : it.fragment().charFormat().anchorNames())
                if (name.startsWith(prefix)) anchor = name;
        if (anchor.isEmpty()) continue;
        pane::TPageItem item;
        item.Anchor = anchor;
        const QTextBlock heading = HeadingOf(block);
        item.New = heading.text().startsWith(QChar(kNewMark));
        for (auto it = heading.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!IsStarLink(fragment)) item.Title += fragment.text();
            const QString href = fragment.charFormat().anchorHref();
            if (href.isEmpty()) continue;
            if (IsStarLink(fragment)) {
                if (item.StarLink.isEmpty()) item.StarLink = href;
            } else if (item.Link.isEmpty())
                item.Link = FBase.resolved(QUrl(href)).toString();
        }
        // The new mark is a dot to the eye; the state words say it.
        item.Title = item.Title.remove(QChar(kNewMark)).simplified();
        items.push_back(std::move(item));
        block = heading.isValid() ? heading : block;
    }
    return items;
}

QString TLightPane::ItemAnchorInView() const {
    return ItemAnchorAt(cursorForPosition(QPoint(0, viewport()->height() / 4)).block());
}

bool TLightPane::SetCurrentItem(const QString& anchor) {
    const QTextBlock block = HeadingBlock(anchor);
    if (!block.isValid()) return false;
    FCurrentItem = anchor;
    ShowCurrentMark();
    // A caret as in caret browsing: it moves with the item, and a screen
    // reader reads from where it stands.
    setTextInteractionFlags(textInteractionFlags() | Qt::TextSelectableByKeyboard);
    setTextCursor(QTextCursor(block));
    // The heading near the top, a line of what comes before still in view.
    const int top = int(document()->documentLayout()->blockBoundingRect(block).top());
    ScrollTo(std::max(0, top - fontMetrics().lineSpacing()));
    return true;
}

void TLightPane::ShowCurrentMark() {
    QList<QTextEdit::ExtraSelection> marks;
    if (const QTextBlock block = HeadingBlock(FCurrentItem); block.isValid()) {
        // The whole heading, wrapped lines too, on a band of the
        // selection's colour across the page.
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(block);
        mark.cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QColor band = palette().color(QPalette::Highlight);
        band.setAlpha(72);
        mark.format.setBackground(band);
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        marks << mark;
    }
    setExtraSelections(marks);
}

bool TLightPane::SetItemNew(const QString& anchor, bool isNew, const QString& newWord) {
    const QTextBlock block = HeadingBlock(anchor);
    if (!block.isValid()) return false;
    SetItemNewInHtml(anchor, isNew, newWord);
    const QColor colour = StateColour(FColorScheme);
    QTextCursor edit(document());
    edit.beginEditBlock();
    // The state in words first: it stands after the mark.
    std::optional<QTextFragment> state;
    int end = block.position() + block.length() - 1;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (IsStarLink(fragment)) {
            end = std::min(end, fragment.position());
        } else if (fragment.charFormat().anchorHref().isEmpty() &&
                   fragment.charFormat().foreground().color() == colour && !fragment.text().trimmed().isEmpty() &&
                   !fragment.text().startsWith(QChar(kNewMark)))
            state = fragment;  // not the mark, nor the space after it
    }
    QTextCharFormat stateFormat;
    stateFormat.setForeground(colour);
    if (state) {
        // Taken before the edit, which the fragment does not outlive.
        stateFormat = state->charFormat();
        const int at = state->position(), length = state->length();
        const QString now = pane::TItemCursor::StateWithNew(state->text().trimmed(), newWord, isNew);
        edit.setPosition(at);
        edit.setPosition(at + length, QTextCursor::KeepAnchor);
        edit.insertText(now, stateFormat);
        ShiftImages(at, int(now.size()) - length);
    } else if (isNew && !newWord.isEmpty()) {
        // Before the star link, as the page puts it.
        const QString words = QLatin1Char(' ') + newWord;
        edit.setPosition(end);
        edit.insertText(words, stateFormat);
        ShiftImages(end, int(words.size()));
    }
    // Then the mark for the eye, at the heading's start, where the item's
    // anchor may stand: it stays with the heading.
    const bool marked = block.text().startsWith(QChar(kNewMark));
    const QStringList names =
        block.begin().atEnd() ? QStringList() : block.begin().fragment().charFormat().anchorNames();
    if (marked && !isNew) {
        edit.setPosition(block.position());
        edit.setPosition(block.position() + 2, QTextCursor::KeepAnchor);
        edit.removeSelectedText();
        ShiftImages(block.position(), -2);
        if (!names.isEmpty()) {
            QTextCharFormat anchor;
            anchor.setAnchorNames(names);
            edit.setPosition(block.position());
            edit.setPosition(block.position() + 1, QTextCursor::KeepAnchor);
            edit.mergeCharFormat(anchor);
        }
    } else if (!marked && isNew) {
        QTextCharFormat markFormat;
        markFormat.setForeground(colour);
        if (!names.isEmpty()) markFormat.setAnchorNames(names);
        edit.setPosition(block.position());
        edit.insertText(QStringLiteral("\u25CF\u00A0"), markFormat);
        ShiftImages(block.position(), 2);
    }
    edit.endEditBlock();
    ShowCurrentMark();
    return true;
}

void TLightPane::SetItemNewInHtml(const QString& anchor, bool isNew, const QString& newWord) {
    const qsizetype at = FPageHtml.indexOf(QLatin1String("name=\"") + anchor + QLatin1Char('"'));
    const qsizetype open = at < 0 ? -1 : FPageHtml.indexOf(QLatin1String("<h2"), at);
    const qsizetype close = open < 0 ? -1 : FPageHtml.indexOf(QLatin1String("</h2>"), open);
    if (close < 0) return;
    QString heading = FPageHtml.mid(open, close - open);
    thread_local const QRegularExpression mark(QStringLiteral(R"re(<span class="new-mark">[^<]*</span>)re"));
    thread_local const QRegularExpression state(QStringLiteral(R"re( ?<span class="item-state">([^<]*)</span>)re"));
    heading.remove(mark);
    QString words;
    if (const auto found = state.match(heading); found.hasMatch()) {
        words = found.captured(1);
        heading.remove(found.capturedStart(), found.capturedLength());
    }
    words = pane::TItemCursor::StateWithNew(words, newWord.toHtmlEscaped(), isNew);
    if (!words.isEmpty()) {
        const QString span = QStringLiteral(" <span class=\"item-state\">%1</span>").arg(words);
        const qsizetype star = heading.indexOf(QLatin1String("<a href=\"") + QLatin1String(pane::kStarRequestScheme));
        heading.insert(star >= 0 ? star : heading.size(), span);
    }
    if (isNew)
        heading.insert(heading.indexOf(QLatin1Char('>')) + 1,
                       QStringLiteral("<span class=\"new-mark\">\u25CF\u00A0</span>"));
    FPageHtml.replace(open, close - open, heading);
}

void TLightPane::ShiftImages(int from, int delta) {
    if (delta == 0) return;
    // Their places are where a picture that arrives is laid out again.
    for (TPageImage& image : FImages)
        for (int& position : image.Positions)
            if (position >= from) position += delta;
}
