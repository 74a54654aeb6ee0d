#include "WebBrowser.h"
#include "PageBuild.h"
#include "PageStylesheet.h"

#include <QBuffer>
#include <QMenu>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QWebEngineContextMenuRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include "PaneProtocol.h"

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Pages produced by the stylesheet are served under this scheme, which has
// no size limit, unlike setHtml. It is not a local scheme: a feed page has
// no more access to the machine's files than a web page has.
constexpr char kPageScheme[] = "quillet-page";

bool IsWebScheme(const QString& scheme) { return scheme == QLatin1String("http") || scheme == QLatin1String("https"); }

// How many transformed pages stay available to the engine: the one shown and
// the one being loaded are enough (a reload transforms the file again).
constexpr std::size_t kKeptPages = 4;

QString AddressOf(const QUrl& url) { return url.isLocalFile() ? url.toLocalFile() : url.toString(); }

}  // namespace

// ---- page scheme ----

// The program's requests are navigations the page asks the window about
// and never loads; one that got this far anyway is refused.
class TRequestSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override { job->fail(QWebEngineUrlRequestJob::RequestDenied); }
};

class TFeedPageSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    QUrl Add(const QByteArray& html) {
        const QUrl url(QString::fromLatin1(kPageScheme) + QLatin1Char(':') + QString::number(++FCounter));
        FPages.emplace(FCounter, html);
        while (FPages.size() > kKeptPages) FPages.erase(FPages.begin());
        return url;
    }

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        bool ok = false;
        const quint64 key = job->requestUrl().path().toULongLong(&ok);
        const auto it = ok ? FPages.find(key) : FPages.end();
        if (it == FPages.end()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto* buffer = new QBuffer(job);
        buffer->setData(it->second);
        buffer->open(QIODevice::ReadOnly);
        job->reply("text/html", buffer);
    }

private:
    quint64 FCounter = 0;
    std::map<quint64, QByteArray> FPages;
};

using quillet::TPageBuild;

// ---- sub-resources ----

// Every request a page makes besides its own main-frame document: only http
// and https images pass, and only while web images are on. Style sheets,
// fonts, frames, objects, media, favicons and pings never load; the page
// itself (a main-frame request) was already let through CheckNavigation.
class TPaneRequestPolicy : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    std::atomic<bool> FImages{true};

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        const auto type = info.resourceType();
        if (type == QWebEngineUrlRequestInfo::ResourceTypeMainFrame) return;
        if (type == QWebEngineUrlRequestInfo::ResourceTypeImage && FImages &&
            IsWebScheme(info.requestUrl().scheme().toLower()))
            return;
        info.block(true);
    }
};

// ---- pages ----

class TWebBrowserPage : public QWebEnginePage {
public:
    TWebBrowserPage(QWebEngineProfile* profile, TWebBrowser* browser)
        : QWebEnginePage(profile, browser), FBrowser(browser) {}

    // The next main-frame load that the browser started itself and already
    // announced; it passes without being asked about again.
    QUrl FExpected;

    // The last main-frame navigation that went ahead.
    QUrl FPrevious;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isMainFrame && !FExpected.isEmpty() && url == FExpected) {
            FExpected.clear();
            FPrevious = url;
            return true;
        }
        // The page's own links to its items (the "N new" line) only move
        // the view: the page's base would make them another document.
        if (isMainFrame && type == NavigationTypeLinkClicked &&
            url.fragment().startsWith(QLatin1String(quillet::kItemAnchorPrefix))) {
            QMetaObject::invokeMethod(
                FBrowser, [b = FBrowser, id = url.fragment()] { b->ScrollToAnchor(id); }, Qt::QueuedConnection);
            return false;
        }
        switch (TWebBrowser::CheckNavigation(url, type, isMainFrame, FPrevious)) {
            case TWebBrowser::TNavigationVerdict::Load:
                FPrevious = url;
                return true;
            case TWebBrowser::TNavigationVerdict::AskHandler:
                // Decided by the browser after the current event has finished.
                QMetaObject::invokeMethod(
                    FBrowser, [b = FBrowser, url] { b->BeforeNavigate(AddressOf(url)); }, Qt::QueuedConnection);
                return false;
            case TWebBrowser::TNavigationVerdict::Refuse:
                break;
        }
        return false;
    }

    // Links that ask for a new window open in this one, after the same check.
    QWebEnginePage* createWindow(WebWindowType) override;

private:
    TWebBrowser* FBrowser;
};

// A throw-away page that only catches the address of a "new window" link.
class TNewWindowCatcher : public QWebEnginePage {
public:
    TNewWindowCatcher(QWebEngineProfile* profile, TWebBrowser* browser)
        : QWebEnginePage(profile, browser), FBrowser(browser) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isMainFrame && !FDone) {
            FDone = true;
            if (TWebBrowser::CheckNavigation(url, type, isMainFrame, {}) == TWebBrowser::TNavigationVerdict::AskHandler)
                QMetaObject::invokeMethod(
                    FBrowser, [b = FBrowser, url] { b->BeforeNavigate(AddressOf(url)); }, Qt::QueuedConnection);
            deleteLater();
        }
        return false;
    }

private:
    TWebBrowser* FBrowser;
    bool FDone = false;
};

QWebEnginePage* TWebBrowserPage::createWindow(WebWindowType) { return new TNewWindowCatcher(profile(), FBrowser); }

// ---- TWebBrowser ----

void TWebBrowser::RegisterSchemes() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    QWebEngineUrlScheme scheme(kPageScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // No flags: the page is treated like a remote one, so it can reach no
    // local file.
    scheme.setFlags({});
    QWebEngineUrlScheme::registerScheme(scheme);
    // The program's requests (an item's star, its full article): a link of
    // a scheme the engine does not know goes to the desktop without a
    // navigation request; registered, its click comes to CheckNavigation
    // and the window as any other link's.
    for (const char* name : {pane::kStarRequestScheme, pane::kArticleRequestScheme}) {
        QWebEngineUrlScheme request(name);
        request.setSyntax(QWebEngineUrlScheme::Syntax::Path);
        request.setFlags({});
        QWebEngineUrlScheme::registerScheme(request);
    }
}

TWebBrowser::TWebBrowser(QWidget* parent) : QWidget(parent) {
    // A private, memory-only profile: nothing of a feed page is cached on
    // disk, and the page scheme handler belongs to this browser alone.
    FProfile = new QWebEngineProfile(this);
    FProfile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    FSchemeHandler = new TFeedPageSchemeHandler(this);
    FProfile->installUrlSchemeHandler(kPageScheme, FSchemeHandler);
    auto* requests = new TRequestSchemeHandler(this);
    for (const char* name : {pane::kStarRequestScheme, pane::kArticleRequestScheme})
        FProfile->installUrlSchemeHandler(name, requests);
    FRequestPolicy = new TPaneRequestPolicy(this);
    FProfile->setUrlRequestInterceptor(FRequestPolicy);

    auto* page = new TWebBrowserPage(FProfile, this);
    QWebEngineSettings* settings = page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    settings->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    settings->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    settings->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
    // A file dropped on the pane would otherwise be opened in it.
    settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);

    FView = new QWebEngineView(this);
    FView->setPage(page);
    // The engine's menu, with the actions of the item under the pointer.
    FView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        StarLinkAt(pos, [this, view = QPointer<QWebEngineView>(FView), pos](const QString& href) {
            if (!view) return;
            QMenu* menu = ItemMenu(href);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(view->mapToGlobal(pos));
        });
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FView);

    connect(page, &QWebEnginePage::linkHovered, this, [this](const QString& url) { emit StatusTextChange(url); });
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (ok && !FScrollTarget.isEmpty()) ScrollToAnchor(FScrollTarget);
        FScrollTarget.clear();
        // Only the built page itself counts as shown; a load cancelled by
        // the next one, or failed, is not.
        const qint64 shown = ok && FShowingSerial && FView->page()->url() == FShowingUrl ? FShowingSerial : 0;
        if (shown) FShowingSerial = 0;
        emit NavigateComplete(FLocation, ok);
        if (shown) emit PageShown(shown);
    });
}

TWebBrowser::~TWebBrowser() {
    // A page still being built finishes or stops on its own; nothing waits
    // for it and its result finds no browser.
    DropPageBuild();
    // The page must go before the profile it was made with.
    QWebEnginePage* page = FView->page();
    FView->setPage(nullptr);
    delete page;
    delete FView;
    FView = nullptr;
}

void TWebBrowser::Navigate(const QString& pathOrUrl, const quillet::TPageMarks& marks) {
    FMarks = marks;
    FMarkedAddress = pathOrUrl;
    const QUrl asUrl(pathOrUrl);
    if (asUrl.isLocalFile()) FMarkedAddress = asUrl.toLocalFile();
    Navigate(pathOrUrl);
}

void TWebBrowser::Navigate(const QString& pathOrUrl) {
    QString address = pathOrUrl;
    const QUrl asUrl(pathOrUrl);
    if (asUrl.isLocalFile())
        address = asUrl.toLocalFile();
    else if (!address.isEmpty() && QDir::isRelativePath(address) && (asUrl.scheme().isEmpty() || address.size() < 2))
        address = QDir::current().absoluteFilePath(address);  // a relative file name
    const bool local = QDir::isAbsolutePath(address) && !address.contains(QLatin1String("://"));
    const QUrl target = local ? QUrl::fromLocalFile(address) : QUrl(address);
    const auto* page = static_cast<TWebBrowserPage*>(FView->page());
    if (CheckNavigation(target, QWebEnginePage::NavigationTypeTyped, true, page->FPrevious) ==
        TNavigationVerdict::Refuse)
        return;
    BeforeNavigate(address);
}

TWebBrowser::TNavigationVerdict TWebBrowser::CheckNavigation(const QUrl& url, QWebEnginePage::NavigationType type,
                                                             bool isMainFrame, const QUrl& previous) {
    // A feed page has no frames; any left in some page never load.
    if (!isMainFrame) return TNavigationVerdict::Refuse;
    const QString scheme = url.scheme().toLower();
    const bool web = IsWebScheme(scheme);
    const bool mail = scheme == QLatin1String("mailto");
    switch (type) {
        case QWebEnginePage::NavigationTypeTyped:
            // The program's own: a stored copy or another local file, or an
            // address the handler was already asked about.
            return web || mail || scheme == QLatin1String("file") || scheme == QLatin1String(kPageScheme) ||
                           url.toString() == QLatin1String("about:blank")
                       ? TNavigationVerdict::Load
                       : TNavigationVerdict::Refuse;
        case QWebEnginePage::NavigationTypeLinkClicked:
            // The user's choice, but only to the web or to mail: other schemes
            // would hand the address to whatever program claims it. An item's
            // "Read the full article" is a request to the main window, which
            // never loads it.
            return web || mail || scheme == QLatin1String(pane::kArticleRequestScheme) ||
                           scheme == QLatin1String(pane::kStarRequestScheme)
                       ? TNavigationVerdict::AskHandler
                       : TNavigationVerdict::Refuse;
        case QWebEnginePage::NavigationTypeRedirect:
            // A web page the user opened may move on to another web page (its
            // server's redirect or its meta refresh); a feed page never moves.
            return web && IsWebScheme(previous.scheme().toLower()) ? TNavigationVerdict::Load
                                                                   : TNavigationVerdict::Refuse;
        case QWebEnginePage::NavigationTypeReload:
        case QWebEnginePage::NavigationTypeBackForward:
            return web || scheme == QLatin1String(kPageScheme) ? TNavigationVerdict::Load : TNavigationVerdict::Refuse;
        default:
            // Forms and navigations nobody asked for.
            return TNavigationVerdict::Refuse;
    }
}

void TWebBrowser::SetShowWebImages(bool show) { FRequestPolicy->FImages = show; }

bool TWebBrowser::ShowWebImages() const { return FRequestPolicy->FImages; }

bool TWebBrowser::BeforeNavigate(const QString& address) {
    bool cancel = false;
    if (OnBeforeNavigate) OnBeforeNavigate(address, cancel);
    if (!cancel) Open(address);
    return true;
}

void TWebBrowser::Open(const QString& address) {
    // Whatever was being built for an earlier navigation is not wanted now.
    DropPageBuild();
    FLocation = address;
    if (QDir::isAbsolutePath(address) && !address.contains(QLatin1String("://")))
        LoadLocal(address);
    else
        Load(QUrl(address));
}

void TWebBrowser::LoadLocal(const QString& path) {
    // Marks belong to the navigation that brought them, never to a page
    // opened some other way.
    quillet::TPageMarks marks;
    if (path == FMarkedAddress) marks = std::move(FMarks);
    FMarks = {};
    FMarkedAddress.clear();
    auto build = std::make_shared<TPageBuild>(path, FColorScheme, std::move(marks));
    FPageBuild = build;
    FShowingSerial = 0;
    // The worker holds the build and a guarded pointer it only passes on:
    // the delivery runs on the application's thread and finds out there
    // whether the browser still exists.
    QThreadPool::globalInstance()->start([build, style = FStyle, browser = QPointer<TWebBrowser>(this)] {
        if (!build->Dropped()) {
            build->Run();
            build->ApplyStyle(style);
        }
        if (build->Dropped()) return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [build, browser] {
                if (browser) browser->PageBuilt(build);
            },
            Qt::QueuedConnection);
    });
}

void TWebBrowser::PageBuilt(const std::shared_ptr<TPageBuild>& build) {
    if (build != FPageBuild) return;  // a newer navigation took its place
    FPageBuild.reset();
    FScrollTarget =
        build->Marks().Target.empty() ? QString() : QString::fromStdString(quillet::ItemAnchor(build->Marks().Target));
    // A copy without a stylesheet instruction shows as the file itself.
    const QUrl url = build->HasPage() ? FSchemeHandler->Add(build->Html()) : QUrl::fromLocalFile(build->Path());
    FShowingSerial = build->Failed() ? 0 : build->Marks().Serial;
    FShowingUrl = url;
    Load(url);
}

void TWebBrowser::DropPageBuild() {
    if (FPageBuild) FPageBuild->Drop();
    FPageBuild.reset();
}

bool TWebBrowser::PageBuildPending() const { return FPageBuild != nullptr; }

void TWebBrowser::Load(const QUrl& url) {
    static_cast<TWebBrowserPage*>(FView->page())->FExpected = url;
    FView->page()->load(url);
}

void TWebBrowser::SetBodyStyle(const QString& property, const QString& value) {
    // The page's own world has JavaScript off; the program's script runs in
    // its isolated world, which still sees the document.
    const QByteArray args = QJsonDocument(QJsonArray{property, value}).toJson(QJsonDocument::Compact);
    const QString script =
        QStringLiteral("(function(a){if(document.body)document.body.style.setProperty(a[0],a[1]);})(%1)")
            .arg(QString::fromUtf8(args));
    FView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

void TWebBrowser::SetStarLink(const QString& from, const QString& to, const QString& text) {
    const QByteArray args = QJsonDocument(QJsonArray{from, to, text}).toJson(QJsonDocument::Compact);
    const QString script = QStringLiteral(
                               "(function(a){var l=document.querySelectorAll('a.star');"
                               "for(var i=0;i<l.length;i++)if(l[i].getAttribute('href')===a[0]){"
                               "l[i].setAttribute('href',a[1]);l[i].textContent=a[2];"
                               "l[i].className=a[1].indexOf('?on=1&')<0?'star starred':'star';}})(%1)")
                               .arg(QString::fromUtf8(args));
    FView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

void TWebBrowser::StarLinkInView(std::function<void(const QString& href)> reply) {
    const QString script = QStringLiteral(
        "(function(){var y=window.innerHeight/4,b='',f='',l=document.querySelectorAll('a.star');"
        "for(var i=0;i<l.length;i++){var h=l[i].getAttribute('href');if(!f)f=h;"
        "if(l[i].getBoundingClientRect().top<=y)b=h;else break;}return b||f;})()");
    FView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                                 [reply = std::move(reply)](const QVariant& href) { reply(href.toString()); });
}

void TWebBrowser::StarLinkAt(const QPoint& pos, std::function<void(const QString& href)> reply) {
    const QString script = QStringLiteral(
                               "(function(x,y){var e=document.elementFromPoint(x,y),i=e&&e.closest('.item');"
                               "var a=i&&i.querySelector('a.star');return a?a.getAttribute('href'):'';})(%1,%2)")
                               .arg(pos.x())
                               .arg(pos.y());
    FView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                                 [reply = std::move(reply)](const QVariant& href) { reply(href.toString()); });
}

namespace {

// The page's items, and one of them by its anchor: its id, or its place
// where the page gave it none.
const char kItemScript[] =
    "var items=document.querySelectorAll('div.item');"
    "function itemOf(a){var e=document.getElementById(a);if(e&&e.classList.contains('item'))return e;"
    "var m=/^quillet-index-([0-9]+)$/.exec(a);return m?items[+m[1]]:null;}"
    "function anchorOf(e,i){return e.id||('quillet-index-'+i);}";

QString ScriptWith(const char* body, const QJsonArray& args) {
    return QStringLiteral("(function(a){%1%2})(%3)")
        .arg(QLatin1String(kItemScript), QLatin1String(body),
             QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact)));
}

}  // namespace

void TWebBrowser::PageItems(std::function<void(const QJsonArray& items, const QString& at)> reply) {
    const QString script = ScriptWith(
        "var y=window.innerHeight/4,at='',cur='',r=[];"
        "for(var i=0;i<items.length;i++){var e=items[i],s=e.querySelector('h2 a.star'),l=null,"
        "h=e.querySelectorAll('h2 a');for(var j=0;j<h.length;j++)if(!h[j].classList.contains('star')){l=h[j];break;}"
        "if(e.getBoundingClientRect().top<=y)at=anchorOf(e,i);"
        "if(e.classList.contains('quillet-current'))cur=anchorOf(e,i);"
        "var st=e.querySelector('h2 .item-state');"
        "r.push({anchor:anchorOf(e,i),star:s?s.getAttribute('href'):'',link:l?l.href:'',"
        "'new':e.classList.contains('new'),title:((l?l.textContent:'')+(st?' '+st.textContent:'')).trim()});}"
        "return {items:r,at:cur||at||(r.length?r[0].anchor:'')};",
        {});
    FView->page()->runJavaScript(
        script, QWebEngineScript::ApplicationWorld, [reply = std::move(reply)](const QVariant& result) {
            const QVariantMap map = result.toMap();
            reply(QJsonArray::fromVariantList(map.value("items").toList()), map.value("at").toString());
        });
}

void TWebBrowser::SetCurrentItem(const QString& anchor) {
    // Styled here, not by the page's sheet: a home's older rss.xsl has no
    // rule for it.
    const QString script = ScriptWith(
        "var o=document.querySelectorAll('.quillet-current');for(var i=0;i<o.length;i++){"
        "o[i].classList.remove('quillet-current');o[i].style.removeProperty('box-shadow');}"
        "var e=itemOf(a[0]);if(!e)return;e.classList.add('quillet-current');"
        "e.style.setProperty('box-shadow','-6px 0 0 0 Highlight');"
        "var h=e.querySelector('h2')||e;h.setAttribute('tabindex','-1');h.focus({preventScroll:true});"
        "window.scrollTo(0,Math.max(0,e.getBoundingClientRect().top+window.scrollY-16));",
        {anchor});
    FView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

void TWebBrowser::SetItemNew(const QString& anchor, bool isNew, const QString& word) {
    const QString script = ScriptWith(
        "var e=itemOf(a[0]);if(!e)return;e.classList.toggle('new',a[1]);"
        "var h=e.querySelector('h2');if(!h)return;var s=h.querySelector('.item-state');"
        "var w=s?s.textContent.split(', ').filter(function(x){return x&&x!==a[2];}):[];"
        "if(a[1])w.unshift(a[2]);"
        "if(!w.length){if(s)s.remove();return;}"
        "if(!s){s=document.createElement('span');s.className='item-state';"
        "h.insertBefore(s,h.querySelector('a.star'));h.insertBefore(document.createTextNode(' '),s);}"
        "s.textContent=w.join(', ');",
        {anchor, isNew, word});
    FView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

QMenu* TWebBrowser::ItemMenu(const QString& starHref) {
    // The engine's own entries exist only for a request it made itself.
    QMenu* menu = FView->lastContextMenuRequest() ? FView->createStandardContextMenu() : new QMenu(FView);
    pane::AddItemActions(*menu, starHref, FItemMenuTexts, [this](const QString& address) {
        bool cancel = false;
        if (OnBeforeNavigate) OnBeforeNavigate(address, cancel);
    });
    return menu;
}

void TWebBrowser::ScrollToAnchor(const QString& id) {
    const QByteArray arg = QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact);
    const QString script =
        QStringLiteral("(function(a){var e=document.getElementById(a[0]);if(e)e.scrollIntoView();})(%1)")
            .arg(QString::fromUtf8(arg));
    FView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

void TWebBrowser::SanitizeFeedMarkup(void* xmlDocument) { quillet::SanitizeFeedMarkup(xmlDocument); }

bool TWebBrowser::TransformLocalXml(const QString& path, QByteArray& html, const QString& scheme) {
    return quillet::TransformLocalXml(path, html, scheme);
}
