// Stars in the window: an item starred or unstarred from its page (its star
// link, in either pane) or by the Star Item action, the Starred row's
// count, the Starred view, and File > Export Starred Items.
//
// Every star goes through the item store at once; the link on the page on
// show changes in place, so the page stays where the reader left it. An
// account's feed tells its server through the host (the same queue as read
// state). The Starred view is a page like a feed's: a temporary RSS
// document of the starred items, built by the home's rss.xsl through the
// same sanitiser, each item naming its feed and key for its star link.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>

class QTreeWidget;
class QTreeWidgetItem;
namespace items {
class TItemStore;
}
namespace feedlist {
class TFeedList;
}

struct TStarHost {
    // The window's connection to the item store; null while it opens or
    // when it cannot be used.
    std::function<items::TItemStore*()> Store;
    // The feed list: the names the stars keep and the export shows.
    feedlist::TFeedList* FeedList = nullptr;
    // An item's star changed here (not by its server): an account's feed
    // sends it on.
    std::function<void(const std::string& feedId, const std::string& key, bool starred)> StarChanged;
    // The reading pane: a star link changed in place, the star link of the
    // item the reader is at (given to `reply`), a page shown, and the page
    // on show.
    std::function<void(const QString& from, const QString& to, const QString& text, const QString& key, bool starred)>
        SetStarLink;
    std::function<void(std::function<void(const QString& href)> reply)> StarLinkInView;
    std::function<void(const QString& file, const QJsonObject& marks)> Navigate;
    std::function<QString()> ShownLocation;
    // A message for the status line.
    std::function<void(const QString& text)> ShowStatus;
    // Asks where the export goes; "" when the reader cancelled.
    std::function<QString()> ChooseExportFile;
    // Tells the reader why something failed, in plain words.
    std::function<void(const QString& text)> ShowError;
};

class TStarController : public QObject {
    Q_OBJECT
public:
    explicit TStarController(TStarHost host, QObject* parent = nullptr);
    ~TStarController() override;

    // The tree whose first row is the Starred row; it is placed now and
    // again whenever the tree makes its rows anew.
    void ShowRowIn(QTreeWidget& tree);
    static bool IsStarredRow(const QTreeWidgetItem* node);

    // Stars or unstars one item; the page, the count and an account follow.
    // False when nothing changed (no such item, or the store failed).
    bool SetStarred(const std::string& feedId, const std::string& key, bool starred);
    // An address the pane asks to go to: true (and the star set or taken
    // away) when it is an item's star link.
    bool TakePageRequest(const QString& address);
    // Star Item: stars the item the reader is at in the page on show, or
    // takes its star away.
    void ToggleStarInView();

    // The feed page's part: its starred items and the link texts.
    void AddPageStars(const std::string& feedId, QJsonObject& marks);
    // The Starred view: every starred item, newest star first, in pages of
    // kViewPageSize linked to each other, so that thousands of stars open
    // at once; page 0 is the newest.
    static constexpr int kViewPageSize = 100;
    void ShowView(int page = 0);
    bool ViewShown() const;
    int ViewPage() const { return FViewPage; }
    // The file a page of the view is built into.
    QString ViewFile(int page) const;
    // Stars changed elsewhere (a server's, a deleted feed): the count, and
    // the view when it is on show.
    void Refresh();
    // The count the row shows; -1 before the store could be asked.
    int Count() const { return FCount; }

    // File > Export Starred Items: asks for a file and writes it.
    void ExportWithDialog();
    // Writes the export; the line for the status bar. Raises
    // std::runtime_error with the reason.
    QString ExportTo(const QString& file);

private:
    void ShowCount();
    void ShowStoreError(const std::exception& error);
    // Writes the view's document; false (and the reason shown) when it
    // could not be written.
    bool WriteView(const QString& path, int& page, QJsonObject& marks);
    QJsonObject Labels() const;

    TStarHost FHost;
    QTreeWidget* FTree = nullptr;
    int FCount = -1;
    int FViewPage = 0;
    std::unique_ptr<QTemporaryDir> FViewDir;
};
