#include "FocusCycle.h"

#include <QAction>
#include <QApplication>

namespace {

// The places' indexes; the pane takes the focus through FocusPage.
constexpr int kTree = 1, kPane = 2;

}  // namespace

TFocusCycle::TFocusCycle(QWidget* window, QWidget* filter, QWidget* tree, TReadingPane* pane)
    : QObject(window), FPlaces{filter, tree, pane}, FPane(pane) {
    setObjectName("FocusCycle");
    FNext = new QAction(window);
    FNext->setObjectName("ActionNextPane");
    FNext->setShortcut(QKeySequence(Qt::Key_F6));
    FNext->setShortcutContext(Qt::WindowShortcut);
    FPrevious = new QAction(window);
    FPrevious->setObjectName("ActionPreviousPane");
    FPrevious->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    FPrevious->setShortcutContext(Qt::WindowShortcut);
    window->addAction(FNext);
    window->addAction(FPrevious);
    connect(FNext, &QAction::triggered, this, [this] { Move(1); });
    connect(FPrevious, &QAction::triggered, this, [this] { Move(-1); });
    connect(pane, &TReadingPane::LeaveRequested, this, [this](TReadingPane::TLeave how) {
        // Tab goes on round the places as F6 does; Escape back to the feeds.
        if (how == TReadingPane::TLeave::ToFeeds)
            Focus(kTree);
        else
            Move(how == TReadingPane::TLeave::Forward ? 1 : -1);
    });
}

int TFocusCycle::Current() const {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return -1;
    for (int i = 0; i < static_cast<int>(FPlaces.size()); ++i) {
        QWidget* place = FPlaces[static_cast<std::size_t>(i)];
        if (place && (place == focus || place->isAncestorOf(focus))) return i;
    }
    return -1;
}

void TFocusCycle::Move(int step) {
    const int count = static_cast<int>(FPlaces.size());
    const int current = Current();
    const int from = current >= 0 ? current : (step > 0 ? count - 1 : 0);
    // A place out of sight (a hidden filter) is passed by.
    for (int i = 1; i <= count; ++i) {
        const int index = ((from + step * i) % count + count) % count;
        QWidget* place = FPlaces[static_cast<std::size_t>(index)];
        if (place && place->isVisible() && place->isEnabled()) {
            Focus(index);
            return;
        }
    }
}

void TFocusCycle::Focus(int index) {
    QWidget* place = FPlaces[static_cast<std::size_t>(index)];
    if (!place) return;
    // The window may not have the keyboard (the engine's window had it).
    place->window()->activateWindow();
    if (index == kPane)
        FPane->FocusPage();
    else
        place->setFocus(Qt::ShortcutFocusReason);
}
