#include "fAddFeed.h"

#include <QComboBox>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <initializer_list>
#include <thread>

#include "Address.h"
#include "BusyWidgets.h"
#include "Discover.h"
#include "HttpClient.h"
#include "uvxLanguage.h"
#include "QtText.h"

namespace {

using plat::Q;

// A failed search in the user's language where the kind is one people meet
// every day; the search's own English words otherwise.
QString DescribeFailure(const discover::TDiscoverError& error, const QString& address) {
    using Kind = discover::TDiscoverErrorKind;
    const std::string where = address.toStdString();
    try {
        switch (error.Kind) {
            case Kind::NoFeed:
                return LangFmtQ("DiscoverNoFeed", {where});
            case Kind::HostNotFound:
                return LangFmtQ("DiscoverHostNotFound", {where});
            case Kind::TimedOut:
                return LangFmtQ("DiscoverTimedOut", {where});
            case Kind::InvalidAddress:
                return LangFmtQ("DiscoverInvalid", {where});
            case Kind::HttpStatus:
                if (error.Status == 401 || error.Status == 403)
                    return LangFmtQ("DiscoverRefused", {where, error.Status});
                break;
            default:
                break;
        }
    } catch (const std::exception&) {
        // a language without these texts: the search's own words
    }
    return Q(error.Message);
}

}  // namespace

QString FeedFormatName(const std::string& mimeType) {
    if (mimeType.find("rss") != std::string::npos) return QStringLiteral("RSS");
    if (mimeType.find("atom") != std::string::npos) return QStringLiteral("Atom");
    if (mimeType.find("rdf") != std::string::npos) return QStringLiteral("RDF");
    if (mimeType.find("json") != std::string::npos) return QStringLiteral("JSON Feed");
    return mimeType.empty() ? QStringLiteral("XML") : Q(mimeType);
}

TFormAddFeed::TFormAddFeed(QWidget* parent) : QDialog(parent) {
    setObjectName("FormAddFeed");
    setWindowTitle("Add Feed");
    setModal(true);

    Label1 = new QLabel("Feed URL:", this);
    Label1->setObjectName("Label1");
    EditURL = new QLineEdit(this);
    EditURL->setObjectName("EditURL");
    EditURL->setMinimumWidth(345);
    Label1->setBuddy(EditURL);
    Label2 = new QLabel("Name (optional):", this);
    Label2->setObjectName("Label2");
    EditCaption = new QLineEdit(this);
    EditCaption->setObjectName("EditCaption");
    Label2->setBuddy(EditCaption);
    Label3 = new QLabel("Add to:", this);
    Label3->setObjectName("Label3");
    ComboTarget = new QComboBox(this);
    ComboTarget->setObjectName("ComboTarget");
    Label3->setBuddy(ComboTarget);
    Label3->hide();
    ComboTarget->hide();

    Progress = NewBusyBar(this);
    StatusText = NewStatusText(this);
    ResultList = new QListWidget(this);
    ResultList->setObjectName("ResultList");
    ResultList->hide();
    connect(ResultList, &QListWidget::itemDoubleClicked, this, [this] { OKBtnClick(); });

    WaitingText = new QLabel(this);
    WaitingText->setObjectName("WaitingText");
    WaitingText->setWordWrap(true);
    WaitingText->hide();

    OKBtn = new QPushButton("OK", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    SkipBtn = new QPushButton("Skip", this);
    SkipBtn->setObjectName("SkipBtn");
    SkipBtn->hide();
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
    connect(SkipBtn, &QPushButton::clicked, this, [this] {
        if (FCancel) FCancel->Cancel();
        done(kSkipped);
    });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(SkipBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(EditURL);
    layout->addWidget(Label2);
    layout->addWidget(EditCaption);
    layout->addWidget(Label3);
    layout->addWidget(ComboTarget);
    layout->addWidget(Progress);
    layout->addWidget(StatusText);
    layout->addWidget(ResultList, 1);
    layout->addWidget(WaitingText);
    layout->addStretch(0);
    layout->addLayout(buttons);

    setTabOrder(EditURL, EditCaption);
    setTabOrder(EditCaption, OKBtn);
    setTabOrder(OKBtn, CancelBtn);
    EditURL->setFocus();

    FormCreate();
    resize(sizeHint().expandedTo(QSize(420, 160)));
}

TFormAddFeed::~TFormAddFeed() {
    // A search still running ends by itself; its answer finds no dialog.
    if (FCancel) FCancel->Cancel();
}

void TFormAddFeed::FormCreate() { GlobalLanguage().Translate(this); }

QString TFormAddFeed::URL() const { return FChosen ? Q(FChosen->Url) : EditURL->text().trimmed(); }

void TFormAddFeed::SetTargets(const QStringList& names, int current) {
    ComboTarget->clear();
    ComboTarget->addItems(names);
    ComboTarget->setCurrentIndex(std::max(0, std::min(current, static_cast<int>(names.size()) - 1)));
    Label3->setVisible(names.size() > 1);
    ComboTarget->setVisible(names.size() > 1);
}

int TFormAddFeed::Target() const { return std::max(0, ComboTarget->currentIndex()); }

QString TFormAddFeed::Caption() const {
    const QString typed = EditCaption->text().trimmed();
    // A page's link title ("RSS") is no name for the feed: without one of
    // its own, the feed is named by its first update.
    if (!typed.isEmpty() || !FChosen || !FChosen->OwnTitle) return typed;
    return Q(FChosen->Title);
}

void TFormAddFeed::SetChooseOnly(const QString& title) {
    FChooseOnly = true;
    setWindowTitle(title);
    for (QWidget* asked : std::initializer_list<QWidget*>{Label2, EditCaption, Label3, ComboTarget}) asked->hide();
}

void TFormAddFeed::FindFeedsFor(const QString& address) {
    EditURL->setText(address.trimmed());
    StartSearch(EditURL->text());
    FConfirmFound = !FChooseOnly;
}

void TFormAddFeed::Enqueue(const QString& address) {
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty() || trimmed == EditURL->text().trimmed() || FWaiting.contains(trimmed)) return;
    if (EditURL->text().trimmed().isEmpty() && !Searching() && !FChosen) {
        FindFeedsFor(trimmed);
        return;
    }
    FWaiting.append(trimmed);
    ShowWaiting();
}

bool TFormAddFeed::StartNext() {
    if (FWaiting.isEmpty()) return false;
    const QString next = FWaiting.takeFirst();
    ShowWaiting();
    // Nothing of the previous address carries over to the next.
    EditCaption->clear();
    ResultList->clear();
    ResultList->hide();
    FindFeedsFor(next);
    return true;
}

void TFormAddFeed::ShowWaiting() {
    WaitingText->setVisible(!FWaiting.isEmpty());
    SkipBtn->setVisible(!FWaiting.isEmpty());
    if (FWaiting.isEmpty()) return;
    const int count = static_cast<int>(FWaiting.size());
    WaitingText->setText(LangFmtQ("AddFeedWaiting", {count, FWaiting.front().toStdString()}));
}

void TFormAddFeed::OKBtnClick() {
    if (Searching()) return;
    const QString address = EditURL->text().trimmed();
    if (address.isEmpty()) return;
    // A search for this very address failed: a second OK adds the address
    // as it is (a feed whose server is down now, or one discovery cannot
    // read), as long as it is a web address at all.
    if (address == FSearched && FFailed) {
        if (const std::optional<std::string> url = discover::NormalizeAddress(address.toStdString()))
            Choose({*url, std::string(), std::string()});
        return;
    }
    // The list of a search for this very address: take the one chosen.
    if (address == FSearched && !ResultList->isHidden()) {
        const int row = ResultList->currentRow();
        if (row >= 0 && row < static_cast<int>(FCandidates.size())) Choose(FCandidates[static_cast<std::size_t>(row)]);
        return;
    }
    StartSearch(address);
    FConfirmFound = false;
}

void TFormAddFeed::CancelBtnClick() {
    // The first Cancel stops a search and leaves the dialog open to change
    // the address; otherwise it closes the dialog.
    if (Searching()) {
        FCancel->Cancel();
        return;
    }
    reject();
}

void TFormAddFeed::SetSearching(bool searching) {
    Progress->setVisible(searching);
    EditURL->setEnabled(!searching);
    OKBtn->setEnabled(!searching);
    if (searching) ResultList->hide();
}

void TFormAddFeed::StartSearch(const QString& address) {
    FSearched = address;
    FFailed = false;
    FCandidates.clear();
    FChosen.reset();
    FCancel = std::make_shared<http::TCancelToken>();
    SetSearching(true);
    try {
        StatusText->setText(LangFmtQ("DiscoverSearching", {address.toStdString()}));
    } catch (const std::exception&) {
        StatusText->clear();
    }

    discover::TDiscoverOptions options;
    options.secureFeeds = SecureFeeds;
    options.cancelToken = FCancel;
    QPointer<TFormAddFeed> dialog(this);
    const std::shared_ptr<http::TCancelToken> token = FCancel;
    // The search waits on the network: it runs on a thread of its own and
    // hands its answer to the dialog, if that is still there and still
    // waiting for this search.
    std::thread([dialog, token, options, input = address.toStdString()] {
        auto result = std::make_shared<discover::TDiscoverResult>(discover::Discover(input, options));
        QMetaObject::invokeMethod(
            qApp,
            [dialog, token, result] {
                if (dialog && dialog->FCancel == token) dialog->SearchDone(*result);
            },
            Qt::QueuedConnection);
    }).detach();
}

void TFormAddFeed::SearchDone(const discover::TDiscoverResult& result) {
    const bool cancelled = FCancel && FCancel->Cancelled();
    FCancel.reset();
    SetSearching(false);
    if (cancelled) {
        StatusText->setText(LangMsgQ("DiscoverCancelled"));
    } else if (!result.Ok()) {
        // The address as it is would be the very page that is not a feed.
        FFailed = !FChooseOnly && result.Error->Kind != discover::TDiscoverErrorKind::InvalidAddress;
        QString text = DescribeFailure(*result.Error, FSearched);
        if (FFailed) text += ' ' + LangMsgQ("DiscoverAddAnyway");
        StatusText->setText(text);
    } else if (result.Feeds.size() == 1 && !FConfirmFound) {
        Choose(result.Feeds.front());
    } else {
        FCandidates = result.Feeds;
        ResultList->clear();
        for (const discover::TFeedCandidate& feed : FCandidates) {
            const QString title = feed.Title.empty() ? Q(feed.Url) : Q(feed.Title);
            auto* row = new QListWidgetItem(title + QStringLiteral(" (") + FeedFormatName(feed.Type) + ')', ResultList);
            row->setToolTip(Q(feed.Url));
        }
        ResultList->setCurrentRow(0);
        ResultList->show();
        ResultList->setFocus();
        if (FCandidates.size() == 1)
            StatusText->setText(LangFmtQ("DiscoverFoundOne", {ResultList->item(0)->text().toStdString()}));
        else
            StatusText->setText(LangFmtQ("DiscoverSeveral", {static_cast<int>(FCandidates.size())}));
    }
    SayOutcome(StatusText);
    FitMessage();
    emit searchFinished();
}

void TFormAddFeed::FitMessage() {
    QLayout* box = layout();
    box->activate();
    const int wanted = box->hasHeightForWidth() ? box->totalHeightForWidth(width()) : sizeHint().height();
    if (wanted > height()) resize(width(), wanted);
}

void TFormAddFeed::Choose(const discover::TFeedCandidate& feed) {
    if (FindExisting) {
        if (const std::optional<QString> existing = FindExisting(feed.Url)) {
            StatusText->setText(LangFmtQ("FeedAlreadyListed", {existing->toStdString()}));
            SayOutcome(StatusText);
            return;
        }
    }
    FChosen = feed;
    accept();
}
