// The window's side of stars: the star controller wired to the item store,
// the reading pane, the tree's Starred row, accounts and the menus.
#include "fMain.h"

#include <QAction>
#include <QFileDialog>
#include <QMessageBox>

#include "AccountController.h"
#include "FeedTree.h"
#include "ReadStateController.h"
#include "ReadingPane.h"
#include "StarController.h"

void TFormMain::ConnectStars() {
    TStarHost host;
    host.Store = [this] { return FItems->Store(); };
    host.FeedList = FFeedList.get();
    host.StarChanged = [this](const std::string& feedId, const std::string& key, bool starred) {
        FAccounts->ItemStarred(feedId, key, starred);
    };
    host.SetStarLink = [this](const QString& from, const QString& to, const QString& text, const QString& key,
                              bool starred) { ReadingPane->SetStarLink(from, to, text, key, starred); };
    host.StarLinkInView = [this](std::function<void(const QString&)> reply) {
        ReadingPane->StarLinkInView(std::move(reply));
    };
    host.Navigate = [this](const QString& file, const QJsonObject& marks) { ReadingPane->Navigate(file, marks); };
    host.ShownLocation = [this] { return ReadingPane->LocationURL(); };
    host.ShowStatus = [this](const QString& text) { SetStatusText(0, text); };
    host.ChooseExportFile = [this] {
        return QFileDialog::getSaveFileName(this, QString(FActions.ExportStarred->text()).remove('&'),
                                            QStringLiteral("Starred.xml"), QStringLiteral("RSS (*.xml *.rss);;* (*)"));
    };
    host.ShowError = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
    FStars = new TStarController(std::move(host), this);
    FStars->ShowRowIn(*FTree);
    FTree->OnRowsReset = [this] { FStars->ShowRowIn(*FTree); };
    // The count once the store is open.
    FItems->With([this](items::TItemStore&) { FStars->Refresh(); });

    connect(FActions.StarItem, &QAction::triggered, this, [this] { Guarded([this] { FStars->ToggleStarInView(); }); });
    connect(FActions.ExportStarred, &QAction::triggered, this,
            [this] { Guarded([this] { FStars->ExportWithDialog(); }); });
    connect(FAccounts.get(), &TAccountController::starsChanged, FStars,
            [this] { Guarded([this] { FStars->Refresh(); }); });
}
