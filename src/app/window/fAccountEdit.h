// The form of one account: its kind, the server's address, the user name,
// the API password and its name in the list. OK signs in first (off the
// window's thread, with progress; Cancel stops it) and closes only when the
// server took the password, so no account is kept that cannot sync.
//
// Three uses: adding an account; editing one (the name, and a new password,
// which is checked again; address and user stay); and asking for the
// password again after the server refused it.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>

#include "SignInCheck.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class TFormAccountEdit : public QDialog {
    Q_OBJECT
public:
    enum class TMode { Add, Edit, Password };
    // Translates itself from the current language file (entry FormAccountEdit).
    explicit TFormAccountEdit(TMode mode, QWidget* parent = nullptr);

    // Edit and Password: the account as kept.
    void SetAccount(const QString& address, const QString& user, const QString& caption);
    // A line above the fields (why the password is asked for).
    void SetIntro(const QString& text);

    // After acceptance: the API address that signed in (the kept one when
    // the password was not changed), the password typed ("" for none) and
    // the name.
    QString Base() const { return FBase; }
    QString Password() const;
    QString Caption() const;
    TMode Mode() const { return FMode; }

    // Add: the caption of an account with this API address and user, if it
    // is in the list already.
    std::function<std::optional<std::string>(const std::string& base, const std::string& user)> FindExisting;

    QLabel* Intro = nullptr;
    QLabel* LabelKind = nullptr;
    QComboBox* ComboKind = nullptr;
    QLabel* LabelAddress = nullptr;
    QLineEdit* EditAddress = nullptr;
    QLabel* LabelUser = nullptr;
    QLineEdit* EditUser = nullptr;
    QLabel* LabelPassword = nullptr;
    QLineEdit* EditPassword = nullptr;
    QLabel* LabelCaption = nullptr;
    QLineEdit* EditCaption = nullptr;
    QLabel* AddressWarning = nullptr;  // shown while the address is plain http://
    QProgressBar* Progress = nullptr;
    QLabel* StatusText = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    TSignInCheck* Check = nullptr;

    void OKBtnClick();
    void CancelBtnClick();

signals:
    // A sign-in check ended (signed in, refused or cancelled); for tests.
    void checkFinished();

private:
    void FormCreate();
    void CheckDone(const TSignInResult& result);
    void SetChecking(bool checking);

    TMode FMode;
    QString FBase;
};
