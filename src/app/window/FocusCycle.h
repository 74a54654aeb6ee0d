// The keyboard's way round the main window: F6 and Shift+F6 move the focus
// between the filter field, the feed tree and the reading pane, from
// wherever it is, and the pane's own leaving keys (Tab, Shift+Tab, Escape)
// go to the filter or back to the tree.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

#include "ReadingPane.h"

class QAction;

class TFocusCycle : public QObject {
    Q_OBJECT
public:
    // The places in F6's order; the pane comes last. The actions are the
    // window's, so they act whatever has the focus.
    TFocusCycle(QWidget* window, QWidget* filter, QWidget* tree, TReadingPane* pane);

    // Moves the focus `step` places on (negative: back) from the place that
    // has it; from anywhere else, to the first (or last) place.
    void Move(int step);

    QAction* Next() const { return FNext; }
    QAction* Previous() const { return FPrevious; }

private:
    // The place holding the focus, -1 when none does.
    int Current() const;
    void Focus(int index);

    std::vector<QPointer<QWidget>> FPlaces;
    TReadingPane* FPane;
    QAction* FNext = nullptr;
    QAction* FPrevious = nullptr;
};
