#include "fFeedProperties.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

#include "uvxLanguage.h"

namespace {

constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 3600;
constexpr int kMinutesUnit = 0;
constexpr int kHoursUnit = 1;
// A week in minutes: longer than anyone waits for a feed, short enough that
// the seconds fit an int.
constexpr int kMaxIntervalCount = 7 * 24 * 60;

// A message of the language file, or the English text when the language
// lacks it: a dialog must open whatever the files hold.
QString MessageOr(const char* name, const char* english) { return LangTextQ(name, {}, QString::fromUtf8(english)); }

struct TShownInterval {
    int Count = 60;
    int Unit = kMinutesUnit;
};

// How the controls show an interval: whole hours as hours, anything else as
// whole minutes, rounded and never under one; none as an hour in minutes,
// ready to be switched on.
TShownInterval IntervalShown(int seconds) {
    if (seconds <= 0) return {};
    if (seconds % kSecondsPerHour == 0) return {std::min(seconds / kSecondsPerHour, kMaxIntervalCount), kHoursUnit};
    return {std::clamp((seconds + kSecondsPerMinute / 2) / kSecondsPerMinute, 1, kMaxIntervalCount), kMinutesUnit};
}

}  // namespace

TFormFeedProperties::TFormFeedProperties(QWidget* parent, const std::vector<TFolderEntry>& folders,
                                         const TFeedProperties& values)
    : QDialog(parent), FOriginalInterval(std::max(0, values.IntervalSeconds)) {
    setObjectName("FormFeedProperties");
    setWindowTitle("Feed Properties");
    setModal(true);

    auto label = [this](const char* name, const char* text) {
        auto* widget = new QLabel(text, this);
        widget->setObjectName(name);
        return widget;
    };
    LabelCaption = label("LabelCaption", "Name:");
    EditCaption = new QLineEdit(values.Caption, this);
    EditCaption->setObjectName("EditCaption");
    LabelCaption->setBuddy(EditCaption);
    LabelURL = label("LabelURL", "Feed URL:");
    EditURL = new QLineEdit(values.Url, this);
    EditURL->setObjectName("EditURL");
    EditURL->setMinimumWidth(345);
    LabelURL->setBuddy(EditURL);
    LabelFolder = label("LabelFolder", "Folder:");
    ComboFolder = new QComboBox(this);
    ComboFolder->setObjectName("ComboFolder");
    for (const TFolderEntry& folder : folders)
        ComboFolder->addItem(QString(std::max(0, folder.Depth) * 4, QChar(' ')) + folder.Caption);
    ComboFolder->setCurrentIndex(std::clamp(values.Folder, 0, std::max(0, ComboFolder->count() - 1)));
    LabelFolder->setBuddy(ComboFolder);

    CheckNotify = new QCheckBox("Announce new items", this);
    CheckNotify->setObjectName("CheckNotify");
    CheckNotify->setChecked(values.Notify);
    CheckFullArticle = new QCheckBox("Show the full article", this);
    CheckFullArticle->setObjectName("CheckFullArticle");
    CheckFullArticle->setChecked(values.FullArticle);

    GroupInterval = new QGroupBox("Update interval", this);
    GroupInterval->setObjectName("GroupInterval");
    RadioIntervalDefault = new QRadioButton("As set in the options", GroupInterval);
    RadioIntervalDefault->setObjectName("RadioIntervalDefault");
    RadioIntervalOwn = new QRadioButton("Every", GroupInterval);
    RadioIntervalOwn->setObjectName("RadioIntervalOwn");
    SpinInterval = new QSpinBox(GroupInterval);
    SpinInterval->setObjectName("SpinInterval");
    SpinInterval->setRange(1, kMaxIntervalCount);
    ComboIntervalUnit = new QComboBox(GroupInterval);
    ComboIntervalUnit->setObjectName("ComboIntervalUnit");
    ComboIntervalUnit->addItem(MessageOr("IntervalMinutes", "minutes"));
    ComboIntervalUnit->addItem(MessageOr("IntervalHours", "hours"));
    auto* own = new QHBoxLayout;
    own->addWidget(RadioIntervalOwn);
    own->addWidget(SpinInterval);
    own->addWidget(ComboIntervalUnit);
    own->addStretch(1);
    auto* intervalLayout = new QVBoxLayout(GroupInterval);
    intervalLayout->addWidget(RadioIntervalDefault);
    intervalLayout->addLayout(own);
    ShowInterval(FOriginalInterval);
    connect(RadioIntervalOwn, &QRadioButton::toggled, this, [this] { UpdateIntervalControls(); });
    GroupInterval->setEnabled(!values.FetchedByServer);
    LabelServerFetched = label("LabelServerFetched",
                               "The account's server fetches this feed: an update interval of its own does not apply.");
    LabelServerFetched->setWordWrap(true);
    LabelServerFetched->setVisible(values.FetchedByServer);

    LabelHealth = new QLabel(values.HealthCause, this);
    LabelHealth->setObjectName("LabelHealth");
    LabelHealth->setWordWrap(true);
    LabelHealth->setTextFormat(Qt::PlainText);
    LabelHealth->setVisible(!values.HealthCause.isEmpty());

    OKBtn = new QPushButton("OK", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto* fields = new QFormLayout;
    fields->addRow(LabelCaption, EditCaption);
    fields->addRow(LabelURL, EditURL);
    fields->addRow(LabelFolder, ComboFolder);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(CheckNotify);
    layout->addWidget(CheckFullArticle);
    layout->addWidget(GroupInterval);
    layout->addWidget(LabelServerFetched);
    layout->addWidget(LabelHealth);
    layout->addStretch(1);
    layout->addLayout(buttons);

    GlobalLanguage().Translate(this);
    EditCaption->setFocus();
    resize(sizeHint().expandedTo(QSize(440, 0)));
}

void TFormFeedProperties::ShowInterval(int seconds) {
    RadioIntervalDefault->setChecked(seconds <= 0);
    RadioIntervalOwn->setChecked(seconds > 0);
    const TShownInterval shown = IntervalShown(seconds);
    SpinInterval->setValue(shown.Count);
    ComboIntervalUnit->setCurrentIndex(shown.Unit);
    UpdateIntervalControls();
}

int TFormFeedProperties::ShownIntervalSeconds() const {
    if (!RadioIntervalOwn->isChecked()) return 0;
    const int unit = ComboIntervalUnit->currentIndex() == kHoursUnit ? kSecondsPerHour : kSecondsPerMinute;
    return SpinInterval->value() * unit;
}

void TFormFeedProperties::UpdateIntervalControls() {
    const bool own = RadioIntervalOwn->isChecked();
    SpinInterval->setEnabled(own);
    ComboIntervalUnit->setEnabled(own);
}

TFeedProperties TFormFeedProperties::Values() const {
    TFeedProperties values;
    values.Caption = EditCaption->text().trimmed();
    values.Url = EditURL->text().trimmed();
    values.Folder = ComboFolder->currentIndex();
    values.Notify = CheckNotify->isChecked();
    values.FullArticle = CheckFullArticle->isChecked();
    values.IntervalSeconds = ShownIntervalSeconds();
    // Untouched controls give back the stored interval exactly, even one
    // they round for showing.
    const TShownInterval original = IntervalShown(FOriginalInterval);
    if (FOriginalInterval > 0 && RadioIntervalOwn->isChecked() && SpinInterval->value() == original.Count &&
        ComboIntervalUnit->currentIndex() == original.Unit)
        values.IntervalSeconds = FOriginalInterval;
    return values;
}

void TFormFeedProperties::OKBtnClick() {
    // A feed needs an address; the name may stay empty (the address stands
    // in for it until the feed's own title arrives).
    if (EditURL->text().trimmed().isEmpty()) {
        EditURL->setFocus();
        return;
    }
    accept();
}
