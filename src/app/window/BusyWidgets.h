// What a dialog shows while it waits on the network (a search for feeds, a
// sign-in): a thin bar of unknown length, hidden until then, and a line of
// plain text for the outcome.
#pragma once

class QLabel;
class QProgressBar;
class QWidget;

QProgressBar* NewBusyBar(QWidget* parent);
QLabel* NewStatusText(QWidget* parent);
