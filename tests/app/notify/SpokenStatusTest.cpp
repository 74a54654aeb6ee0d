// What is said to a screen reader, and when: the gate's spacing of unasked
// words and settling of answers on a clock of the test's, and the status
// bar's line that carries the words to the accessibility layer.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleInterface>
#include <QStatusBar>

#include <chrono>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "SpokenStatus.h"

namespace {

using namespace std::chrono_literals;

struct TStep {
    int At;            // ms since the start
    char Kind;         // 'S' say, 'A' answer, 'T' take, 'D' when the next words are due
    const char* Text;  // said or answered; for a take, what is expected ("" nothing)
    int Due = -2;      // for 'D': ms since the start, -1 for nothing waiting
};

TEST(SpeechGate, SaysNoMoreOftenThanNotificationsAndAnswersOnceTheTypingRests) {
    constexpr int kSpacing = static_cast<int>(std::chrono::milliseconds(TSpeechGate::kMinSpacing).count());
    constexpr int kSettle = static_cast<int>(TSpeechGate::kAnswerSettle.count());
    const struct {
        const char* name;
        std::vector<TStep> steps;
    } cases[] = {
        {"the first words are said at once", {{0, 'S', "Daily: 3 new items"}, {0, 'T', "Daily: 3 new items"}}},
        {"words within the spacing wait for its end, and are said together",
         {{0, 'S', "one"},
          {0, 'T', "one"},
          {1000, 'S', "two"},
          {2000, 'S', "three"},
          {2000, 'T', ""},
          {2000, 'D', "", kSpacing},
          {kSpacing - 1, 'T', ""},
          {kSpacing, 'T', "two three"},
          {kSpacing + 1, 'T', ""},
          {kSpacing + 1, 'D', "", -1}}},
        {"the same words twice are said once, at their later place",
         {{0, 'S', "a"}, {0, 'T', "a"}, {10, 'S', "b"}, {20, 'S', "c"}, {30, 'S', "b"}, {kSpacing, 'T', "c b"}}},
        {"no more than the newest few are kept",
         {{0, 'S', "a"},
          {0, 'T', "a"},
          {1, 'S', "b"},
          {2, 'S', "c"},
          {3, 'S', "d"},
          {4, 'S', "e"},
          {kSpacing, 'T', "c d e"}}},
        {"blank words are nothing to say; lines are read as one",
         {{0, 'S', "  \n "},
          {0, 'T', ""},
          {1, 'S', "Dead Letters:\ncould not connect"},
          {1, 'T', "Dead Letters: could not connect"}}},
        {"an answer waits for the typing to rest; the newest replaces it",
         {{0, 'A', "1 item found"},
          {0, 'D', "", kSettle},
          {kSettle - 1, 'A', "Nothing found"},
          {kSettle - 1, 'D', "", kSettle * 2 - 1},
          {kSettle * 2 - 2, 'T', ""},
          {kSettle * 2 - 1, 'T', "Nothing found"},
          {kSettle * 3, 'T', ""}}},
        {"an answer comes before waiting news and leaves the spacing alone",
         {{0, 'S', "news"},
          {0, 'T', "news"},
          {100, 'S', "more news"},
          {100, 'A', "7 items found"},
          {100, 'D', "", 100 + kSettle},
          {100 + kSettle, 'T', "7 items found"},
          {100 + kSettle, 'D', "", kSpacing},
          {100 + kSettle, 'T', ""},
          {kSpacing, 'T', "more news"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSpeechGate gate;
        const TSpeechGate::TTime start{std::chrono::hours(1)};
        for (const TStep& step : c.steps) {
            const auto now = start + std::chrono::milliseconds(step.At);
            if (step.Kind == 'S') gate.Say(QString::fromUtf8(step.Text), now);
            if (step.Kind == 'A') gate.Answer(QString::fromUtf8(step.Text), now);
            if (step.Kind == 'T') {
                EXPECT_EQ(gate.Take(now).toStdString(), step.Text) << "at " << step.At << " ms";
            }
            if (step.Kind == 'D') {
                const auto due = gate.Due();
                EXPECT_EQ(due ? static_cast<int>((*due - start) / 1ms) : -1, step.Due) << "at " << step.At << " ms";
            }
        }
    }
}

// The line's words reach the bus as a notification's name (the walk over
// AT-SPI hears them); here, without a bus, its interface is asked directly.
TEST(SpokenStatus, TheLineIsANotificationNamedByTheWordsAndFoundFromADialog) {
    QWidget window;
    auto* bar = new QStatusBar(&window);
    auto* spoken = new TSpokenStatus(bar);
    QWidget dialog(&window, Qt::Dialog);
    EXPECT_EQ(TSpokenStatus::Of(&dialog), spoken);
    EXPECT_EQ(TSpokenStatus::Of(nullptr), nullptr);

    spoken->Say(QStringLiteral("Dead Letters could not be updated: no answer"));
    spoken->Say(QStringLiteral("Daily: 3 new items"));  // within the spacing: waits
    spoken->Answer(QStringLiteral("7 items found"));    // waits for the typing to rest
    QAccessibleInterface* line = QAccessible::queryAccessibleInterface(spoken->Line());
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->role(), QAccessible::Notification);
    EXPECT_EQ(line->text(QAccessible::Name).toStdString(), "Dead Letters could not be updated: no answer");
    EXPECT_TRUE(apptest::WaitUntil([&] { return line->text(QAccessible::Name) == "7 items found"; }, 5000));
    EXPECT_EQ(spoken->Line()->width(), 0);
}

}  // namespace
