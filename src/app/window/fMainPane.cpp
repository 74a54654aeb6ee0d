// The window's side of the reading pane's choices: which pane shows pages
// (the option, and View > Show in Full Web View for the page on show), the
// pictures' disk cache, and how pages are set (zoom, font, line width and
// the home's user.css).
#include "fMain.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <exception>
#include <memory>
#include <tuple>

#include "Convert.h"
#include "FeedPageController.h"
#include "ItemNavigator.h"
#include "LightPane.h"
#include "Options.h"
#include "PaneImageCache.h"
#include "QtText.h"
#include "ReadStateController.h"
#include "ReadingPane.h"
#include "SpokenStatus.h"
#include "uvxLanguage.h"

namespace {

void ConnectItemKeys(TFormMain& form);

constexpr char kPanePath[] = "general\\ReadingPane";
constexpr char kColoursPath[] = "general\\PageColours";
constexpr char kCacheSizePath[] = "general\\ImageCacheSize";
constexpr char kFontPath[] = "general\\PageFont";
constexpr char kFontSizePath[] = "general\\PageFontSize";
constexpr char kLineWidthPath[] = "general\\PageLineWidth";
constexpr char kZoomPath[] = "internal\\readingpane\\Zoom";
constexpr char kImageCacheFolder[] = "cache/images";
// The reader's own style sheet in the home, applied last in both panes.
constexpr char kUserCss[] = "user.css";
constexpr qint64 kMaxUserCssBytes = 256 * 1024;

}  // namespace

void TFormMain::ConnectPane() {
    auto cache = std::make_shared<quillet::TPaneImageCache>(QDir::current().absoluteFilePath(kImageCacheFolder));
    ReadingPane->LightPane()->SetImageCache(cache);
    ReadingPane->SetOpenExternally([this](const QUrl& url) { FPage->OpenExternally(url); });

    // Read without making the elements: an older config.xml stays as it
    // was until the reader changes something.
    auto text = [this](const char* path) -> std::string {
        try {
            xml::Node node = FOptions->ConfigDocument().DocumentElement();
            for (const QString& piece : QString::fromLatin1(path).split(QLatin1Char('\\'), Qt::SkipEmptyParts))
                if (!node.IsNull()) node = node.ChildByName(piece.toStdString());
            return node.IsNull() ? std::string() : node.Text();
        } catch (const std::exception&) {
            return {};
        }
    };
    auto number = [text](const char* path, int fallback) { return plat::TryStrToInt(text(path)).value_or(fallback); };

    // View: the menu and its actions, made here with the names the
    // language files find their texts by.
    auto* view = new QMenu(QStringLiteral("&View"), this);
    view->setObjectName("ViewMenu");
    MainMenu->insertMenu(LanguageMenu->menuAction(), view);
    auto make = [this, view](const char* name, const QString& caption, const QKeySequence& keys = {}) {
        auto* action = new QAction(caption, this);
        action->setObjectName(name);
        if (!keys.isEmpty()) {
            action->setShortcut(keys);
            addAction(action);  // the shortcut works with the menu closed
        }
        view->addAction(action);
        return action;
    };
    QAction* fullView = make("ActionShowInWebView", QStringLiteral("Show in Full Web View"));
    fullView->setCheckable(true);
    view->addSeparator();
    QAction* zoomIn = make("ActionZoomIn", QStringLiteral("Zoom In"), QKeySequence(Qt::CTRL | Qt::Key_Plus));
    QAction* zoomOut = make("ActionZoomOut", QStringLiteral("Zoom Out"), QKeySequence(Qt::CTRL | Qt::Key_Minus));
    QAction* zoomReset = make("ActionZoomReset", QStringLiteral("Actual Size"), QKeySequence(Qt::CTRL | Qt::Key_0));
    // Ctrl+= is Ctrl++ without Shift on most keyboards.
    zoomIn->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    // From item to item in the page.
    view->addSeparator();
    for (QAction* action : {FActions.NextItem, FActions.PreviousItem, FActions.NextUnreadItem, FActions.OpenItemLink,
                            FActions.ToggleItemRead})
        view->addAction(action);
    ConnectItemKeys(*this);
    // The page's colours: the desktop's, or light or dark whatever it uses.
    view->addSeparator();
    auto* colours = view->addMenu(QStringLiteral("Page &Colours"));
    colours->setObjectName("MenuPageColours");
    auto* colourChoices = new QActionGroup(this);
    for (const auto& [name, caption, choice] : {std::tuple{"ActionPageColoursDesktop", "As the &Desktop", "desktop"},
                                                {"ActionPageColoursLight", "&Light", "light"},
                                                {"ActionPageColoursDark", "&Dark", "dark"}}) {
        auto* action = new QAction(QString::fromLatin1(caption), this);
        action->setObjectName(name);
        action->setCheckable(true);
        action->setData(QString::fromLatin1(choice));
        colourChoices->addAction(action);
        colours->addAction(action);
    }
    auto applyColours = [this, text, colourChoices] {
        ReadingPane->SetColorChoice(plat::Q(text(kColoursPath)));
        for (QAction* action : colourChoices->actions())
            action->setChecked(action->data().toString() == ReadingPane->ColorChoice());
    };
    connect(colourChoices, &QActionGroup::triggered, this, [this, applyColours](QAction* action) {
        Guarded([&] {
            FOptions->GetConfigNode(kColoursPath).SetText(action->data().toString().toStdString());
            applyColours();
        });
    });
    const QList<QAction*> tools = ToolBar->actions();
    const qsizetype options = tools.indexOf(FActions.Options);
    ToolBar->insertAction(options > 0 ? tools[options - 1] : nullptr, fullView);

    auto applyStyle = [this, text, number] {
        quillet::TPageStyle style;
        style.FontFamily = plat::Q(text(kFontPath));
        style.FontPointSize = std::clamp(number(kFontSizePath, 0), 0, 96);
        style.MaxLineChars = std::clamp(number(kLineWidthPath, 0), 0, 1000);
        style.Zoom = std::clamp(number(kZoomPath, 0), quillet::TPageStyle::kMinZoom, quillet::TPageStyle::kMaxZoom);
        QFile css(QDir::current().absoluteFilePath(kUserCss));
        if (css.open(QIODevice::ReadOnly)) style.UserCss = QString::fromUtf8(css.read(kMaxUserCssBytes));
        ReadingPane->SetPageStyle(style);
    };
    // The pane chosen in the options, as last applied: the choice is
    // followed when it changes, not at every visit of the dialog.
    auto chosen = std::make_shared<TReadingPane::TKind>(TReadingPane::TKind::Light);
    auto applyOptions = [this, text, number, cache, applyStyle, applyColours, chosen] {
        if (!FOptions) return;
        // A configuration from before the option shows pages in the light
        // pane, as a new one does.
        const auto kind = text(kPanePath) == "engine" ? TReadingPane::TKind::Engine : TReadingPane::TKind::Light;
        if (kind != *chosen) ReadingPane->SetKind(*chosen = kind);
        cache->SetLimitBytes(qint64(std::max(0, number(kCacheSizePath, 100))) << 20);
        applyColours();
        applyStyle();
    };
    auto zoom = [this, number, applyStyle](int step) {
        Guarded([&] {
            const int zoom = step == 0 ? 0 : number(kZoomPath, 0) + step;
            FOptions->GetConfigNode(kZoomPath).SetText(
                std::to_string(std::clamp(zoom, quillet::TPageStyle::kMinZoom, quillet::TPageStyle::kMaxZoom)));
            applyStyle();
        });
    };
    connect(zoomIn, &QAction::triggered, this, [zoom] { zoom(1); });
    connect(zoomOut, &QAction::triggered, this, [zoom] { zoom(-1); });
    connect(zoomReset, &QAction::triggered, this, [zoom] { zoom(0); });
    // After the dialog has closed: the options' connection came first.
    connect(FActions.Options, &QAction::triggered, this, [this, applyOptions] { Guarded(applyOptions); });
    connect(fullView, &QAction::triggered, this, [this](bool on) {
        if (on)
            ReadingPane->ShowInEngine();
        else
            ReadingPane->SetKind(ReadingPane->Kind());
    });
    connect(ReadingPane, &TReadingPane::KindChanged, fullView, [this, fullView] {
        fullView->setChecked(ReadingPane->EngineShown());
        fullView->setEnabled(ReadingPane->Kind() == TReadingPane::TKind::Light);
    });
    // Once config.xml has been read.
    QTimer::singleShot(0, this, [this, applyOptions] { Guarded(applyOptions); });
}

namespace {

// J, K, Shift+N, O and M: the item navigator wired to the pane and the read
// state, through what the window shows of them.
void ConnectItemKeys(TFormMain& form) {
    TReadingPane* pane = form.ReadingPane;
    TItemNavigatorHost host;
    host.PageItems = [pane](TItemNavigatorHost::TItemsReply reply) { pane->PageItems(std::move(reply)); };
    // A page in the other pane is another page: its current item is found again.
    host.PageKey = [pane] { return pane->PageSerial() * 2 + (pane->EngineShown() ? 1 : 0); };
    host.ShowItem = [pane](const QString& anchor) { pane->ShowCurrentItem(anchor); };
    host.SetItemNew = [pane](const QString& anchor, const QString& key, bool isNew) {
        pane->SetItemNew(anchor, key, isNew, LangTextQ("PageItemNew", {}, QStringLiteral("new")));
    };
    host.OpenLink = [pane](const QString& address) { pane->OpenItemLink(address); };
    host.MarkItem = [&form](const std::string& feedId, const std::string& key, bool read) {
        return form.Items().SetItemRead(feedId, key, read);
    };
    host.ShowNextUnreadFeed = [&form] { return form.Items().SelectNextUnread(); };
    host.ShowStatus = [&form](const QString& text) { form.SetStatusText(0, text); };
    host.Speak = [&form](const QString& text) {
        if (TSpokenStatus* spoken = TSpokenStatus::Of(&form)) spoken->Answer(text);
    };
    auto* items = new TItemNavigator(std::move(host), &form);
    const std::pair<QAction*, void (TItemNavigator::*)()> keys[] = {
        {form.Actions().NextItem, &TItemNavigator::Next},
        {form.Actions().PreviousItem, &TItemNavigator::Previous},
        {form.Actions().NextUnreadItem, &TItemNavigator::NextUnread},
        {form.Actions().OpenItemLink, &TItemNavigator::OpenLink},
        {form.Actions().ToggleItemRead, &TItemNavigator::ToggleRead},
    };
    for (const auto& [action, move] : keys)
        QObject::connect(action, &QAction::triggered, items, [&form, items, move = move] {
            try {
                (items->*move)();
            } catch (const std::exception& error) {
                form.SetStatusText(0, QString::fromUtf8(error.what()));
            }
        });
    QObject::connect(pane, &TReadingPane::PageShown, items, [items] { items->PageShown(); });
}

}  // namespace
