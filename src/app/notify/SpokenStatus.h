// What the program tells a screen reader without being asked: an update
// that brought new items, a feed that began to fail, the number of results
// Find in Feeds found. Qt 6.4 has no announcement event, so the words go
// to a line of the status bar whose accessible role is a notification:
// its name becomes the words and it reports itself shown, which screen
// readers (Orca) speak as they speak a desktop notification.
//
// The user hears no more than a notification would show: unasked words at
// most once every kMinSpacing (the announcer's spacing of notifications),
// what came meanwhile said together then; an answer to the user (a
// result count) as soon as the typing rests, whatever the spacing.
#pragma once

#include <QLabel>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

class QStatusBar;

// The decisions, on a clock the caller reads.
class TSpeechGate {
public:
    using TTime = std::chrono::steady_clock::time_point;

    // As the announcer spaces notifications of new items.
    static constexpr std::chrono::seconds kMinSpacing{30};
    // An answer waits this long for a newer one: the count after each
    // letter typed is not read out.
    static constexpr std::chrono::milliseconds kAnswerSettle{600};
    // At most this many texts are said together; the oldest go first.
    static constexpr std::size_t kKeptTexts = 3;

    // Words nobody asked for: news, a failure.
    void Say(const QString& text, TTime now);
    // The answer to what the user just did; it replaces an answer not yet
    // said.
    void Answer(const QString& text, TTime now);
    // What is due at `now`, taken from the waiting ones; "" for nothing.
    QString Take(TTime now);
    // When the next waiting words are due; nullopt when none wait.
    std::optional<TTime> Due() const;

private:
    std::vector<QString> FWaiting;
    std::optional<TTime> FLastSaid;
    QString FAnswer;
    TTime FAnswerDue{};
};

// The status bar's line a screen reader hears; it shows nothing.
class TSpokenLine : public QLabel {
    Q_OBJECT
public:
    explicit TSpokenLine(QWidget* parent = nullptr);
};

class TSpokenStatus : public QObject {
    Q_OBJECT
public:
    // Places its line (object name SpokenStatus) at the end of `bar`.
    explicit TSpokenStatus(QStatusBar* bar);

    // The one of the main window `widget` is in or belongs to (a dialog
    // over it); null when there is none.
    static TSpokenStatus* Of(const QWidget* widget);

    void Say(const QString& text);
    void Answer(const QString& text);

    TSpokenLine* Line() const { return FLine; }

private:
    void SpeakDue();

    TSpeechGate FGate;
    QTimer FTimer;
    TSpokenLine* FLine;
};
