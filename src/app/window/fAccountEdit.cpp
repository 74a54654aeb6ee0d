#include "fAccountEdit.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "AccountText.h"
#include "BusyWidgets.h"

namespace {

QLabel* NewLabel(const char* name, const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setBuddy(buddy);
    return label;
}

QLineEdit* NewEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

}  // namespace

TFormAccountEdit::TFormAccountEdit(TMode mode, QWidget* parent) : QDialog(parent), FMode(mode) {
    setObjectName("FormAccountEdit");
    setModal(true);

    Intro = new QLabel(this);
    Intro->setObjectName("Intro");
    Intro->setWordWrap(true);
    Intro->setTextFormat(Qt::PlainText);
    Intro->hide();
    ComboKind = new QComboBox(this);
    ComboKind->setObjectName("ComboKind");
    EditAddress = NewEdit("EditAddress", this);
    EditAddress->setMinimumWidth(345);
    EditUser = NewEdit("EditUser", this);
    EditPassword = NewEdit("EditPassword", this);
    EditPassword->setEchoMode(QLineEdit::Password);
    EditCaption = NewEdit("EditCaption", this);
    LabelKind = NewLabel("LabelKind", "Kind:", ComboKind, this);
    LabelAddress = NewLabel("LabelAddress", "Server address:", EditAddress, this);
    LabelUser = NewLabel("LabelUser", "User name:", EditUser, this);
    LabelPassword = NewLabel("LabelPassword", "API password:", EditPassword, this);
    LabelCaption = NewLabel("LabelCaption", "Name in the list:", EditCaption, this);

    AddressWarning = new QLabel(this);
    AddressWarning->setObjectName("AddressWarning");
    AddressWarning->setWordWrap(true);
    AddressWarning->setTextFormat(Qt::PlainText);
    AddressWarning->hide();
    connect(EditAddress, &QLineEdit::textChanged, this,
            [this](const QString& address) { AddressWarning->setVisible(TravelsReadable(address)); });
    Progress = NewBusyBar(this);
    StatusText = NewStatusText(this);

    OKBtn = new QPushButton(this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });

    Check = new TSignInCheck(this);
    connect(Check, &TSignInCheck::finished, this, [this](const TSignInResult& result) { CheckDone(result); });

    auto* fields = new QFormLayout;
    fields->addRow(LabelKind, ComboKind);
    fields->addRow(LabelAddress, EditAddress);
    fields->addRow(QString(), AddressWarning);
    fields->addRow(LabelUser, EditUser);
    fields->addRow(LabelPassword, EditPassword);
    fields->addRow(LabelCaption, EditCaption);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Intro);
    layout->addLayout(fields);
    layout->addWidget(Progress);
    layout->addWidget(StatusText);
    layout->addStretch(1);
    layout->addLayout(buttons);

    FormCreate();
    // Only the password is asked for again; the rest is shown, not changed.
    const bool fixed = FMode != TMode::Add;
    ComboKind->setEnabled(!fixed);
    EditAddress->setReadOnly(fixed);
    EditUser->setReadOnly(fixed);
    if (FMode == TMode::Password) {
        LabelCaption->hide();
        EditCaption->hide();
    }
    (FMode == TMode::Add ? EditAddress : FMode == TMode::Edit ? EditCaption : EditPassword)->setFocus();
    resize(sizeHint().expandedTo(QSize(460, 200)));
}

void TFormAccountEdit::FormCreate() {
    GlobalLanguage().Translate(this);
    ComboKind->clear();
    ComboKind->addItem(AccountText("AccountKindGReader", QStringLiteral("FreshRSS / Google Reader API")));
    AddressWarning->setText(PlainHttpWarning());
    switch (FMode) {
        case TMode::Add:
            setWindowTitle(AccountText("AccountAddTitle", QStringLiteral("Add Account")));
            OKBtn->setText(AccountText("AccountCheckAndAdd", QStringLiteral("Check and Add")));
            break;
        case TMode::Edit:
            setWindowTitle(AccountText("AccountEditTitle", QStringLiteral("Edit Account")));
            OKBtn->setText(AccountText("AccountCheckAndSave", QStringLiteral("Check and Save")));
            EditPassword->setPlaceholderText(AccountText("AccountKeepPassword", QStringLiteral("unchanged")));
            break;
        case TMode::Password:
            setWindowTitle(AccountText("AccountPasswordTitle", QStringLiteral("Account Password")));
            OKBtn->setText(AccountText("AccountCheckAndSave", QStringLiteral("Check and Save")));
            break;
    }
}

void TFormAccountEdit::SetAccount(const QString& address, const QString& user, const QString& caption) {
    EditAddress->setText(address);
    EditUser->setText(user);
    EditCaption->setText(caption);
    FBase = address;
}

void TFormAccountEdit::SetIntro(const QString& text) {
    Intro->setText(text);
    Intro->setVisible(!text.isEmpty());
}

QString TFormAccountEdit::Password() const { return EditPassword->text(); }

QString TFormAccountEdit::Caption() const { return EditCaption->text().trimmed(); }

void TFormAccountEdit::SetChecking(bool checking) {
    Progress->setVisible(checking);
    OKBtn->setEnabled(!checking);
    for (QLineEdit* edit : {EditAddress, EditUser, EditPassword, EditCaption}) edit->setEnabled(!checking);
}

void TFormAccountEdit::OKBtnClick() {
    if (Check->Running()) return;
    const QString address = EditAddress->text().trimmed();
    const QString user = EditUser->text().trimmed();
    // Editing without a new password changes the name only: nothing to check.
    if (FMode == TMode::Edit && EditPassword->text().isEmpty()) return accept();
    if (address.isEmpty() || user.isEmpty() || EditPassword->text().isEmpty()) {
        StatusText->setText(AccountText(
            "AccountFieldsMissing", QStringLiteral("Give the server's address, the user name and the API password.")));
        SayOutcome(StatusText);
        return;
    }
    SetChecking(true);
    StatusText->setText(
        AccountText("SignInChecking", QStringLiteral("Signing in to %1...").arg(address), {address.toStdString()}));
    Check->Start(address, user, EditPassword->text());
}

void TFormAccountEdit::CancelBtnClick() {
    // The first Cancel stops a check and leaves the form open.
    if (Check->Running()) return Check->Cancel();
    reject();
}

void TFormAccountEdit::CheckDone(const TSignInResult& result) {
    SetChecking(false);
    if (!result.Ok) {
        StatusText->setText(result.Message);
        SayOutcome(StatusText);
        emit checkFinished();
        return;
    }
    if (FMode == TMode::Add && FindExisting) {
        if (const auto existing = FindExisting(result.Base, EditUser->text().trimmed().toStdString())) {
            StatusText->setText(AccountText(
                "AccountAlreadyListed",
                QStringLiteral("This account is already in the list as \"%1\".").arg(QString::fromStdString(*existing)),
                {*existing}));
            SayOutcome(StatusText);
            emit checkFinished();
            return;
        }
    }
    FBase = QString::fromStdString(result.Base);
    StatusText->clear();
    emit checkFinished();
    accept();
}
