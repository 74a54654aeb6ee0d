// Find in Feeds: a small window beside the main one that searches the
// titles and bodies of every remembered item as the user types, newest
// first, and shows the chosen item in its feed.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <string>
#include <vector>

#include "ItemStore.h"

class TFormFindInFeeds : public QDialog {
    Q_OBJECT
public:
    explicit TFormFindInFeeds(QWidget* parent);

    // The search itself (the window's item store; among starred items only
    // when asked), the caption of a feed
    // by id ("" for a feed no longer listed: its items are left out), and
    // what choosing a result does.
    std::function<std::vector<items::TSearchHit>(const std::string& text, bool starredOnly)> Search;
    std::function<QString(const std::string& feedId)> FeedCaption;
    std::function<void(const std::string& feedId, const std::string& key)> OnChoose;

    // Searches for the field's text now instead of after the typing pause.
    void SearchNow();
    // Shows the result in row `row`.
    void Choose(int row);

    QLineEdit* SearchText = nullptr;
    QCheckBox* StarredOnly = nullptr;
    QTreeWidget* SearchResults = nullptr;
    // How many were found, or why nothing could be; said to a screen reader too.
    QLabel* ResultCount = nullptr;

    // How many results are listed at most.
    static constexpr int kMaxResults = 200;

protected:
    // Down in the field goes on into the results.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowResultCount(const QString& text);

    QTimer FPause;
};
