// File > Accounts: the feed-server accounts of the feed list, each with its
// name, address and user. Add and Edit open the account's form, which signs
// in before anything is kept; Remove asks first. The work itself (the
// folder in config.xml, the password in the vault, the signals to the sync)
// is the accounts' controller's; this dialog only shows it and asks.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QLabel;
class QPushButton;
class QTreeWidget;
class TAccountController;
class TFormAccountEdit;
namespace feedlist {
class TFeedList;
}

class TFormAccounts : public QDialog {
    Q_OBJECT
public:
    // Translates itself from the current language file (entry FormAccounts).
    TFormAccounts(TAccountController& accounts, const feedlist::TFeedList& list, QWidget* parent = nullptr);

    // Lists the accounts as config.xml has them now.
    void Refresh();

    QTreeWidget* AccountList = nullptr;
    QLabel* NoteText = nullptr;
    QPushButton* AddBtn = nullptr;
    QPushButton* EditBtn = nullptr;
    QPushButton* RemoveBtn = nullptr;
    QPushButton* CloseBtn = nullptr;

    void AddBtnClick();
    void EditBtnClick();
    void RemoveBtnClick();

    // Shows an account's form and returns whether it was accepted. Tests
    // replace it to fill in the form and wait for its check.
    std::function<bool(TFormAccountEdit& edit)> RunAccountForm;
    // Asks whether the account with this caption is to be removed. Tests
    // replace it.
    std::function<bool(const QString& caption)> ConfirmRemove;

private:
    void FormCreate();
    // The id of the selected account, empty for none.
    QString SelectedId() const;
    // Keeps a password and says where it went once the vault has answered.
    void StorePassword(const std::string& id, const QString& password);

    TAccountController& FAccounts;
    const feedlist::TFeedList& FList;
};
