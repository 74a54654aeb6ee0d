#include "fAccounts.h"

#include <QLineEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "AccountController.h"
#include "AccountList.h"
#include "BusyWidgets.h"
#include "FeedList.h"
#include "PasswordVault.h"
#include "fAccountEdit.h"
#include "AccountText.h"
#include "QtText.h"

namespace {

using plat::Q;

}  // namespace

TFormAccounts::TFormAccounts(TAccountController& accounts, const feedlist::TFeedList& list, QWidget* parent)
    : QDialog(parent), FAccounts(accounts), FList(list) {
    setObjectName("FormAccounts");
    setWindowTitle("Accounts");
    setModal(true);

    AccountList = new QTreeWidget(this);
    AccountList->setObjectName("AccountList");
    AccountList->setColumnCount(3);
    AccountList->setRootIsDecorated(false);
    AccountList->setSelectionMode(QAbstractItemView::SingleSelection);
    AccountList->header()->setStretchLastSection(true);
    NoteText = new QLabel(this);
    NoteText->setObjectName("NoteText");
    NoteText->setWordWrap(true);
    NoteText->setTextFormat(Qt::PlainText);

    auto button = [this](const char* name, const QString& text) {
        auto* created = new QPushButton(text, this);
        created->setObjectName(name);
        created->setAutoDefault(false);
        return created;
    };
    AddBtn = button("AddBtn", "Add...");
    EditBtn = button("EditBtn", "Edit...");
    RemoveBtn = button("RemoveBtn", "Remove");
    CloseBtn = button("CloseBtn", "Close");
    // Enter closes, as Escape does: nothing here waits to be confirmed.
    CloseBtn->setDefault(true);
    // A failure (config.xml that cannot be saved) is shown in the dialog
    // instead of escaping into the event loop.
    auto guarded = [this](void (TFormAccounts::*handler)()) {
        return [this, handler] {
            try {
                (this->*handler)();
            } catch (const std::exception& error) {
                NoteText->setText(QString::fromUtf8(error.what()));
                SayOutcome(NoteText);
            }
        };
    };
    connect(AddBtn, &QPushButton::clicked, this, guarded(&TFormAccounts::AddBtnClick));
    connect(EditBtn, &QPushButton::clicked, this, guarded(&TFormAccounts::EditBtnClick));
    connect(RemoveBtn, &QPushButton::clicked, this, guarded(&TFormAccounts::RemoveBtnClick));
    connect(CloseBtn, &QPushButton::clicked, this, [this] { accept(); });
    connect(AccountList, &QTreeWidget::itemDoubleClicked, this, guarded(&TFormAccounts::EditBtnClick));
    connect(AccountList, &QTreeWidget::currentItemChanged, this, [this] {
        EditBtn->setEnabled(!SelectedId().isEmpty());
        RemoveBtn->setEnabled(!SelectedId().isEmpty());
    });

    RunAccountForm = [](TFormAccountEdit& edit) { return edit.exec() == QDialog::Accepted; };
    ConfirmRemove = [this](const QString& caption) {
        const QString question =
            AccountText("AccountRemoveConfirm",
                        QStringLiteral("Remove the account \"%1\"? Its feeds leave the list; the server "
                                       "keeps them.")
                            .arg(caption),
                        {caption.toStdString()});
        return QMessageBox::question(this, windowTitle(), question) == QMessageBox::Yes;
    };

    auto* buttons = new QVBoxLayout;
    for (QPushButton* each : {AddBtn, EditBtn, RemoveBtn}) buttons->addWidget(each);
    buttons->addStretch(1);
    buttons->addWidget(CloseBtn);
    auto* top = new QHBoxLayout;
    top->addWidget(AccountList, 1);
    top->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(NoteText);

    FormCreate();
    Refresh();
    resize(QSize(620, 300));
}

void TFormAccounts::FormCreate() {
    GlobalLanguage().Translate(this);
    AccountList->setHeaderLabels({AccountText("AccountColumnName", QStringLiteral("Name")),
                                  AccountText("AccountColumnAddress", QStringLiteral("Address")),
                                  AccountText("AccountColumnUser", QStringLiteral("User"))});
}

void TFormAccounts::Refresh() {
    const QString selected = SelectedId();
    AccountList->clear();
    for (const feedlist::TListEntry* folder : accountlist::AccountFolders(FList)) {
        const auto record = accountlist::RecordOf(folder);
        auto* row = new QTreeWidgetItem(AccountList, {Q(record->Caption), Q(record->Address), Q(record->User)});
        row->setData(0, Qt::UserRole, Q(record->Id));
        if (Q(record->Id) == selected) AccountList->setCurrentItem(row);
    }
    if (!AccountList->currentItem() && AccountList->topLevelItemCount() > 0)
        AccountList->setCurrentItem(AccountList->topLevelItem(0));
    EditBtn->setEnabled(!SelectedId().isEmpty());
    RemoveBtn->setEnabled(!SelectedId().isEmpty());
}

QString TFormAccounts::SelectedId() const {
    const QTreeWidgetItem* row = AccountList->currentItem();
    return row ? row->data(0, Qt::UserRole).toString() : QString();
}

void TFormAccounts::StorePassword(const std::string& id, const QString& password) {
    QPointer<TFormAccounts> self(this);
    const QString file = FAccounts.Vault().SecretFile(Q(id));
    const QMetaObject::Connection waiting = connect(&FAccounts.Vault(), &TPasswordVault::storeWaiting, this,
                                                    [this](const QString& text) { NoteText->setText(text); });
    FAccounts.StorePassword(id, password, [self, file, waiting](const TVaultResult& result) {
        QObject::disconnect(waiting);
        if (self) self->NoteText->setText(DescribePasswordPlace(result, file));
    });
}

void TFormAccounts::AddBtnClick() {
    TFormAccountEdit edit(TFormAccountEdit::TMode::Add, this);
    edit.FindExisting = [this](const std::string& base, const std::string& user) {
        return FAccounts.ExistingAccount(base, user);
    };
    if (!RunAccountForm(edit)) return;
    const std::string id = FAccounts.AddAccount(
        edit.Base().toStdString(), edit.EditUser->text().trimmed().toStdString(), edit.Caption().toStdString());
    AccountList->setCurrentItem(nullptr);
    Refresh();
    for (int row = 0; row < AccountList->topLevelItemCount(); ++row)
        if (AccountList->topLevelItem(row)->data(0, Qt::UserRole).toString() == Q(id))
            AccountList->setCurrentItem(AccountList->topLevelItem(row));
    StorePassword(id, edit.Password());
}

void TFormAccounts::EditBtnClick() {
    const QString id = SelectedId();
    if (id.isEmpty()) return;
    const auto record = accountlist::RecordOf(FList.FindAccount(id.toStdString()));
    if (!record) return;
    TFormAccountEdit edit(TFormAccountEdit::TMode::Edit, this);
    edit.SetAccount(Q(record->Address), Q(record->User), Q(record->Caption));
    if (!RunAccountForm(edit)) return;
    // Edited by hand: a password refused before may be asked for again.
    FAccounts.Forgive(id);
    if (!edit.Caption().isEmpty() && edit.Caption() != Q(record->Caption))
        FAccounts.RenameAccount(record->Id, edit.Caption().toStdString());
    if (!edit.Password().isEmpty()) StorePassword(record->Id, edit.Password());
    Refresh();
}

void TFormAccounts::RemoveBtnClick() {
    const QTreeWidgetItem* row = AccountList->currentItem();
    const QString id = SelectedId();
    if (!row || id.isEmpty() || !ConfirmRemove(row->text(0))) return;
    FAccounts.RemoveAccount(id.toStdString());
    NoteText->clear();
    Refresh();
}
