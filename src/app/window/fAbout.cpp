#include "fAbout.h"

#include <QAction>
#include <QDir>
#include <QActionGroup>
#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include "AppInfo.h"
#include "Desktop.h"
#include "uvxLanguage.h"

// The picture lives in the app library's resources, which a static library
// only registers when asked.
static void InitAboutResources() { Q_INIT_RESOURCE(app); }

namespace {

constexpr int kClientWidth = 298;
constexpr int kClientHeight = 197;
constexpr int kImageSize = 48;

QPixmap ProgramPicture() {
    InitAboutResources();
    QIcon icon(QStringLiteral(":/icons/quillet.svg"));
    if (icon.isNull()) icon = QApplication::windowIcon();
    return icon.pixmap(kImageSize, kImageSize);
}

// A browse action: its caption is what the link shows, triggering it opens
// `address` with the desktop's browser.
QAction* MakeBrowseAction(QObject* owner, const char* name, const QString& caption, const QString& hint,
                          const char* address) {
    auto* action = new QAction(caption, owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setToolTip(hint);
    action->setStatusTip(hint);
    action->setProperty("category", QStringLiteral("Internet"));
    const QString target = QString::fromUtf8(address);
    QObject::connect(action, &QAction::triggered, owner, [target] { plat::OpenWithDesktop(target); });
    return action;
}

QToolButton* MakeLinkButton(QWidget* parent, const char* name, QAction* action) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // Drawn like a link in a web page, so it reads as something to click.
    QFont font = button->font();
    font.setUnderline(true);
    button->setFont(font);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::Link));
    button->setPalette(palette);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));

    Image1 = MakeLabel(this, "Image1", QString());
    Image1->setPixmap(ProgramPicture());
    Image1->setFixedSize(kImageSize, kImageSize);
    Image1->setAttribute(Qt::WA_TranslucentBackground);

    Label1 = MakeLabel(this, "Label1", QString::fromUtf8(kProgramTitle));
    QFont titleFont = Label1->font();
    titleFont.setBold(true);
    Label1->setFont(titleFont);
    Label2 = MakeLabel(this, "Label2", QStringLiteral("A desktop feed monitor"));
    Label2->setWordWrap(true);
    Label3 = MakeLabel(this, "Label3", QStringLiteral("Home Page"));
    Label4 = MakeLabel(this, "Label4", QStringLiteral("Support"));
    Label5 = MakeLabel(this, "Label5", QStringLiteral("Home folder"));
    // Where config.xml and feeds/ are: the question behind most support
    // requests. Not translated, as it is no text of ours.
    HomeFolder = MakeLabel(this, "HomeFolder", QDir::toNativeSeparators(QDir::currentPath()));
    HomeFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    HomeFolder->setWordWrap(true);

    ActionManagerAbout = new QActionGroup(this);
    ActionManagerAbout->setObjectName(QStringLiteral("ActionManagerAbout"));
    ActionManagerAbout->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    BrowseHomePage = MakeBrowseAction(this, "BrowseHomePage", QString::fromUtf8(kHomePageCaption),
                                      QStringLiteral("Browse Home Page"), kHomePageURL);
    BrowseSupport = MakeBrowseAction(this, "BrowseSupport", QStringLiteral("click here to get support online"),
                                     QStringLiteral("Get Support"), kSupportURL);
    ActionManagerAbout->addAction(BrowseHomePage);
    ActionManagerAbout->addAction(BrowseSupport);
    SpeedButton1 = MakeLinkButton(this, "SpeedButton1", BrowseHomePage);
    SpeedButton2 = MakeLinkButton(this, "SpeedButton2", BrowseSupport);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    OKButton->setMinimumWidth(75);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(16, 16, 16, 12);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    grid->addWidget(Image1, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(Label1, 0, 1, 1, 2);
    grid->addWidget(Label2, 1, 1, 1, 2, Qt::AlignTop);
    grid->setRowMinimumHeight(2, 12);
    grid->addWidget(Label3, 3, 0, 1, 2);
    grid->addWidget(SpeedButton1, 3, 2, Qt::AlignLeft);
    grid->addWidget(Label4, 4, 0, 1, 2);
    grid->addWidget(SpeedButton2, 4, 2, Qt::AlignLeft);
    grid->addWidget(Label5, 5, 0, 1, 2, Qt::AlignTop);
    grid->addWidget(HomeFolder, 5, 2);
    grid->setRowStretch(6, 1);
    grid->addWidget(OKButton, 7, 0, 1, 3, Qt::AlignHCenter);
    grid->setColumnStretch(2, 1);

    FormCreate();

    // Fixed size: the classic box unless a translation needs more room.
    setFixedSize(sizeHint().expandedTo(QSize(kClientWidth, kClientHeight)));
    grid->activate();
    if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::FormCreate() { GlobalLanguage().Translate(this, {}); }
