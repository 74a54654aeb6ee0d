#include "fOptions.h"

#include <algorithm>
#include <exception>

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "Autostart.h"
#include "Options.h"
#include "OptionsPanel.h"
#include "ShortcutPage.h"
#include "Shortcuts.h"
#include "uvxLanguage.h"

namespace {

// The dialog's client area and the panel's share of it when every page
// fits; a larger page makes the dialog grow rather than hide options.
constexpr int kClientWidth = 339;
constexpr int kClientHeight = 236;
constexpr int kPanelWidth = 305;
constexpr int kPanelHeight = 177;
constexpr int kButtonWidth = 75;

void CentreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

}  // namespace

TFormOptions::TFormOptions(QWidget* parent, TOptions& options, TShortcutController* shortcuts)
    : QDialog(parent), FShortcuts(shortcuts) {
    setObjectName(QStringLiteral("FormOptions"));
    setWindowTitle(QStringLiteral("Options"));

    OptionsPanel = new TOptionsPanel(this);
    OptionsPanel->setObjectName(QStringLiteral("OptionsPanel"));
    OptionsPanel->setMinimumSize(kPanelWidth, kPanelHeight);
    OptionsPanel->SetTreeWidth(0);

    auto makeButton = [this](const char* name, const QString& text) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoDefault(false);
        button->setMinimumWidth(kButtonWidth);
        return button;
    };
    OKBtn = makeButton("OKBtn", QStringLiteral("OK"));
    ApplyBtn = makeButton("ApplyBtn", QStringLiteral("Apply"));
    CancelBtn = makeButton("CancelBtn", QStringLiteral("Cancel"));
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, [this] { RunHandler(&TFormOptions::OKBtnClick); });
    connect(ApplyBtn, &QPushButton::clicked, this, [this] { RunHandler(&TFormOptions::ApplyBtnClick); });
    // Escape rejects as well: QDialog's own cancel key.
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(ApplyBtn);
    buttons->addWidget(CancelBtn);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(17, 8, 17, 10);
    layout->setSpacing(12);
    layout->addLayout(buttons);

    FormCreate();
    OptionsPanel->SetOptions(&options);
    if (FShortcuts) {
        // The options' page, then the shortcuts; Ctrl+Tab and the tabs'
        // letters move between them.
        Tabs = new QTabWidget(this);
        Tabs->setObjectName(QStringLiteral("OptionsTabs"));
        const auto& pages = OptionsPanel->Pages();
        Tabs->addTab(OptionsPanel, pages.empty() ? QString() : pages.front()->Caption());
        ShortcutPage = new TShortcutPage(
            FShortcuts->Map(), [shortcuts](const QString& name) { return shortcuts->Caption(name); }, Tabs);
        Tabs->addTab(ShortcutPage, LangTextQ("ShortcutsTab", {}, QStringLiteral("&Shortcuts")));
        // Reached by its letter, the page starts in its list.
        connect(Tabs, &QTabWidget::currentChanged, this, [this](int index) {
            if (Tabs->widget(index) == ShortcutPage) ShortcutPage->List()->setFocus(Qt::ShortcutFocusReason);
        });
        layout->insertWidget(0, Tabs, 1);
    } else {
        layout->insertWidget(0, OptionsPanel, 1);
    }
    FitToPanel();
}

TFormOptions::~TFormOptions() = default;

void TFormOptions::FormCreate() { GlobalLanguage().Translate(this, {}); }

// Fixed size, as small as the classic dialog unless a page or a translated
// button needs more, and never larger than the screen (pages scroll then).
void TFormOptions::FitToPanel() {
    QSize size = sizeHint().expandedTo(QSize(kClientWidth, kClientHeight));
    if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    }
    setFixedSize(size);
    layout()->activate();
    CentreOnScreen(this);
}

void TFormOptions::OKBtnClick() {
    ApplyShortcuts();
    OptionsPanel->ApplyChanges();
    ApplySessionStart();
    accept();
}

void TFormOptions::ApplyBtnClick() {
    ApplyShortcuts();
    OptionsPanel->ApplyChanges();
    ApplySessionStart();
}

// Before the panel saves config.xml, which then holds them.
void TFormOptions::ApplyShortcuts() {
    TOptions* options = OptionsPanel->Options();
    if (FShortcuts && ShortcutPage && options)
        FShortcuts->Apply(ShortcutPage->Map(), options->ConfigDocument().DocumentElement());
}

// "Start when I log in" takes effect outside the program, at once.
void TFormOptions::ApplySessionStart() {
    if (TOptions* options = OptionsPanel->Options()) autostart::ApplyOption(*options);
}

void TFormOptions::RunHandler(void (TFormOptions::*handler)()) {
    try {
        (this->*handler)();
    } catch (const std::exception& error) {
        QMessageBox::critical(this, windowTitle(), QString::fromUtf8(error.what()));
    }
}
