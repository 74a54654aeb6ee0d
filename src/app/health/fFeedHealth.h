// Feed Health: the feeds that need the user, each with its cause in plain
// words and the buttons for what can be done about it.
//
// The window is a plain list: the health controller hands it the rows and
// acts on what the buttons ask for, so it knows nothing of feeds or the
// network.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

#include "FeedHealth.h"

class QLabel;
class QPushButton;
class QTreeWidget;

class TFormFeedHealth : public QDialog {
    Q_OBJECT
public:
    struct TRow {
        QString Id;
        QString Feed;    // the feed's name as the list shows it
        QString Cause;   // what happened and what can be done
        QString Detail;  // the server's own words and when
        schedule::TAttention Attention = schedule::TAttention::None;
    };
    enum class TAction { UseAddress, Undo, Retry, Edit, Delete, FindFeed, Keep };

    // Translates itself from the current language file (entry
    // FormFeedHealth).
    explicit TFormFeedHealth(QWidget* parent);

    // Replaces the list, keeping the selected feed selected where it still
    // needs attention.
    void SetRows(std::vector<TRow> rows);
    const std::vector<TRow>& Rows() const { return FRows; }
    // Selects the row of a feed; false when it is not listed.
    bool Select(const QString& id);
    // The button for an action, as the selected row offers it.
    QPushButton* Button(TAction action) const;
    // Presses a button for the selected row, as a click does.
    void Act(TAction action);

    std::function<void(const QString& id, TAction action)> OnAction;

    QTreeWidget* ListFeeds = nullptr;
    QLabel* LabelCause = nullptr;
    QPushButton* BtnUseAddress = nullptr;
    QPushButton* BtnUndo = nullptr;
    QPushButton* BtnRetry = nullptr;
    QPushButton* BtnEdit = nullptr;
    QPushButton* BtnDelete = nullptr;
    QPushButton* BtnFindFeed = nullptr;
    QPushButton* BtnKeep = nullptr;
    QPushButton* BtnClose = nullptr;

private:
    // Shows the selected row's cause and the buttons it offers.
    void ShowSelected();
    const TRow* Selected() const;
    std::vector<TRow> FRows;
};

// The actions a cause offers, in the order of the buttons.
std::vector<TFormFeedHealth::TAction> ActionsFor(schedule::TAttention attention);
