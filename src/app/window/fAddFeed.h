// The dialog that adds a feed. It takes whatever a person has: a feed's
// address, a page's, a bare host, a feed: link. OK finds the feeds it
// stands for off the window's thread (the progress shows, Cancel stops the
// search); one feed is taken at once, several are offered as a list with the
// best one chosen.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "FeedLinks.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace http {
class TCancelToken;
}
namespace discover {
struct TDiscoverResult;
}

class TFormAddFeed : public QDialog {
    Q_OBJECT
public:
    // Translates itself from the current language file (entry FormAddFeed).
    explicit TFormAddFeed(QWidget* parent = nullptr);
    ~TFormAddFeed() override;

    // After acceptance: the feed's address, and the name typed or, when none
    // was, the feed's own title ("" when only a page's link named it).
    QString URL() const;
    QString Caption() const;

    // Fills in an address and starts looking for its feeds, as if typed and
    // confirmed (an address handed over from outside, pasted or dropped).
    // The user did not type it: a single feed found is offered, and added
    // on OK, rather than added at once.
    void FindFeedsFor(const QString& address);

    // Addresses handed over while the dialog is open wait in it, in order,
    // and are worked through one after another: OK or Skip goes on to the
    // next, Cancel drops them all. An address shown or waiting already is
    // not taken twice; an idle, empty dialog starts on it at once.
    void Enqueue(const QString& address);
    // Starts on the next waiting address; false when none waits.
    bool StartNext();
    const QStringList& Waiting() const { return FWaiting; }
    // What exec() returns after Skip.
    static constexpr int kSkipped = 2;

    // Choosing one feed to stand in for a feed already in the list (whose
    // address now gives a web page): the dialog, titled `title`, asks for no
    // name and no place, and a failed search offers nothing to add.
    void SetChooseOnly(const QString& title);

    // Where the feed goes: this computer (0) or one of the accounts named
    // after it. The choice shows only when there is an account.
    void SetTargets(const QStringList& names, int current);
    int Target() const;

    // Whether https addresses may be fetched (general\SecureFeeds).
    bool SecureFeeds = true;
    // The caption of the feed in the list with this address, if any; a feed
    // already there is named instead of added twice.
    std::function<std::optional<QString>(const std::string& url)> FindExisting;

    QLabel* Label1 = nullptr;
    QLineEdit* EditURL = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* EditCaption = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* ComboTarget = nullptr;
    QProgressBar* Progress = nullptr;
    QLabel* StatusText = nullptr;
    QListWidget* ResultList = nullptr;
    QLabel* WaitingText = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* SkipBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    // True while a search runs.
    bool Searching() const { return static_cast<bool>(FCancel); }

signals:
    // A search ended (found, failed or cancelled); for tests.
    void searchFinished();

private:
    void FormCreate();
    void OKBtnClick();
    void CancelBtnClick();
    void StartSearch(const QString& address);
    void SearchDone(const discover::TDiscoverResult& result);
    void SetSearching(bool searching);
    // Takes a feed: refused with a message when it is in the list already.
    void Choose(const discover::TFeedCandidate& feed);
    // Shows how many addresses wait, and Skip while any does.
    void ShowWaiting();
    // A message of several lines: the dialog grows to show all of it.
    void FitMessage();

    std::shared_ptr<http::TCancelToken> FCancel;
    std::vector<discover::TFeedCandidate> FCandidates;
    std::optional<discover::TFeedCandidate> FChosen;
    // What the last search was for: an unchanged address offers its
    // results again instead of searching anew.
    QString FSearched;
    // The last search failed: OK on the same address adds it as it is.
    bool FFailed = false;
    bool FChooseOnly = false;
    // The search is for an address the user did not type.
    bool FConfirmFound = false;
    QStringList FWaiting;
};

// "RSS", "Atom", "RDF", "JSON Feed" for a feed's MIME type.
QString FeedFormatName(const std::string& mimeType);
