// What a dialog shows while it waits on the network (a search for feeds, a
// sign-in): a thin bar of unknown length, hidden until then, and a line of
// plain text for the outcome.
#pragma once

class QLabel;
class QProgressBar;
class QWidget;

QProgressBar* NewBusyBar(QWidget* parent);
QLabel* NewStatusText(QWidget* parent);
// Says the outcome line's words to a screen reader, as the answer to what
// the user asked (an error, the feeds found): the eye sees the line
// change, the ear would not hear it.
void SayOutcome(const QLabel* statusText);
