// The dialog that asks for the address of a new feed.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

class TFormAddFeed : public QDialog {
    Q_OBJECT
public:
    // Translates itself from the current language file (entry FormAddFeed).
    explicit TFormAddFeed(QWidget* parent = nullptr);

    // The address exactly as typed: no trimming, no validation.
    QString URL() const;

    QLabel* Label1 = nullptr;
    QLineEdit* EditURL = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

private:
    void FormCreate();
};
