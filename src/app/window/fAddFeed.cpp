#include "fAddFeed.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "uvxLanguage.h"

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

    OKBtn = new QPushButton("OK", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);  // Esc rejects too

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(EditURL);
    layout->addStretch(1);
    layout->addLayout(buttons);

    setTabOrder(EditURL, OKBtn);
    setTabOrder(OKBtn, CancelBtn);
    EditURL->setFocus();

    FormCreate();
    // Fixed size, at least the designed 384 x 105 client area.
    resize(sizeHint().expandedTo(QSize(384, 105)));
    setFixedSize(size());
}

void TFormAddFeed::FormCreate() { GlobalLanguage().Translate(this); }

QString TFormAddFeed::URL() const { return EditURL->text(); }
