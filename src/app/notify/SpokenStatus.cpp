#include "SpokenStatus.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QStatusBar>

#include <algorithm>
#include <mutex>

// ---------------------------------------------------------------------------
// The decisions

void TSpeechGate::Say(const QString& text, TTime /*now*/) {
    const QString said = text.simplified();
    if (said.isEmpty()) return;
    // The same words twice in one breath are said once, at their later place.
    std::erase(FWaiting, said);
    FWaiting.push_back(said);
    if (FWaiting.size() > kKeptTexts) FWaiting.erase(FWaiting.begin());
}

void TSpeechGate::Answer(const QString& text, TTime now) {
    FAnswer = text.simplified();
    FAnswerDue = now + kAnswerSettle;
}

std::optional<TSpeechGate::TTime> TSpeechGate::Due() const {
    std::optional<TTime> due;
    if (!FAnswer.isEmpty()) due = FAnswerDue;
    if (!FWaiting.empty()) {
        // Never said: at once (the earliest time there is).
        const TTime unasked = FLastSaid ? *FLastSaid + kMinSpacing : TTime{};
        due = due ? std::min(*due, unasked) : unasked;
    }
    return due;
}

QString TSpeechGate::Take(TTime now) {
    // An answer comes first: the user waits for it.
    if (!FAnswer.isEmpty() && now >= FAnswerDue) return std::exchange(FAnswer, QString());
    if (FWaiting.empty() || (FLastSaid && now - *FLastSaid < kMinSpacing)) return QString();
    QStringList texts;
    for (const QString& text : FWaiting) texts << text;
    FWaiting.clear();
    FLastSaid = now;
    return texts.join(QLatin1Char(' '));
}

// ---------------------------------------------------------------------------
// The line

namespace {

// A notification to assistive technology: its name is its text.
class TSpokenLineAccessible : public QAccessibleWidget {
public:
    explicit TSpokenLineAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Notification) {}
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) return static_cast<const QLabel*>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* SpokenLineInterface(const QString& className, QObject* object) {
    if (className == QLatin1String("TSpokenLine") && object && object->isWidgetType())
        return new TSpokenLineAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

}  // namespace

TSpokenLine::TSpokenLine(QWidget* parent) : QLabel(parent) {
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(SpokenLineInterface); });
    setObjectName(QStringLiteral("SpokenStatus"));
    setTextFormat(Qt::PlainText);
    // Heard, not seen: the status line shows the same news to the eye.
    setFixedWidth(0);
}

// ---------------------------------------------------------------------------
// The speaker

TSpokenStatus::TSpokenStatus(QStatusBar* bar) : QObject(bar), FLine(new TSpokenLine(bar)) {
    setObjectName(QStringLiteral("SpokenStatusSpeaker"));
    bar->addPermanentWidget(FLine);
    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, [this] { SpeakDue(); });
}

TSpokenStatus* TSpokenStatus::Of(const QWidget* widget) {
    for (const QWidget* at = widget; at; at = at->parentWidget())
        if (auto* found = at->window()->findChild<TSpokenStatus*>()) return found;
    return nullptr;
}

void TSpokenStatus::Say(const QString& text) {
    FGate.Say(text, std::chrono::steady_clock::now());
    SpeakDue();
}

void TSpokenStatus::Answer(const QString& text) {
    FGate.Answer(text, std::chrono::steady_clock::now());
    SpeakDue();
}

void TSpokenStatus::SpeakDue() {
    const auto now = std::chrono::steady_clock::now();
    const QString words = FGate.Take(now);
    if (!words.isEmpty()) {
        // The label tells of its new name itself; then it shows itself
        // anew, as a notification that pops up: that is what a screen
        // reader reads out, the same words again too.
        FLine->setText(words);
        QAccessibleEvent shown(FLine, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
    if (const std::optional<TSpeechGate::TTime> due = FGate.Due()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(*due - now, now - now));
        FTimer.start(static_cast<int>(wait.count()));
    }
}
