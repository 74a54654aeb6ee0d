// The properties of one feed: its name, address, folder, whether its news is
// announced, whether its page shows full articles, and how often it is fetched.
//
// The dialog only edits values; its controller fills it from the feed's
// <item> element and applies what OK returns, so nothing changes on Cancel.
#pragma once

#include <QDialog>
#include <QString>

#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

struct TFeedProperties {
    QString Caption;
    QString Url;
    // Index into the dialog's folder list (0 is the root).
    int Folder = 0;
    bool Notify = true;
    // The page shows the article fetched from each item's link.
    bool FullArticle = false;
    // Seconds between two fetches of this feed; 0 follows the options.
    int IntervalSeconds = 0;
    // Shown only: why the feed needs attention, in plain words ("" for
    // nothing), and the server's own words.
    QString HealthCause;
    // An account's feed: its server fetches it, so what only steers
    // Quillet's own fetching (the interval) is shown disabled.
    bool FetchedByServer = false;
};

class TFormFeedProperties : public QDialog {
    Q_OBJECT
public:
    // One entry of the folder combo: the root first, then every folder in
    // the tree's order with its depth (the root's children are at 1).
    struct TFolderEntry {
        QString Caption;
        int Depth = 0;
    };

    // Translates itself from the current language file (entry
    // FormFeedProperties).
    TFormFeedProperties(QWidget* parent, const std::vector<TFolderEntry>& folders, const TFeedProperties& values);

    // What the dialog shows now; read after acceptance.
    TFeedProperties Values() const;

    QLabel* LabelCaption = nullptr;
    QLineEdit* EditCaption = nullptr;
    QLabel* LabelURL = nullptr;
    QLineEdit* EditURL = nullptr;
    QLabel* LabelFolder = nullptr;
    QComboBox* ComboFolder = nullptr;
    QCheckBox* CheckNotify = nullptr;
    QCheckBox* CheckFullArticle = nullptr;
    QGroupBox* GroupInterval = nullptr;
    QRadioButton* RadioIntervalDefault = nullptr;
    QRadioButton* RadioIntervalOwn = nullptr;
    // Why the interval is disabled, on an account's feed.
    QLabel* LabelServerFetched = nullptr;
    QSpinBox* SpinInterval = nullptr;
    // Minutes (0) or hours (1).
    QComboBox* ComboIntervalUnit = nullptr;
    // The feed's health, shown above the buttons when it needs attention.
    QLabel* LabelHealth = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

private:
    void OKBtnClick();
    void ShowInterval(int seconds);
    int ShownIntervalSeconds() const;
    void UpdateIntervalControls();

    // The interval as it came in: a stored value the controls cannot show
    // exactly (90 seconds, written by hand) is kept unless it is changed.
    int FOriginalInterval = 0;
};
