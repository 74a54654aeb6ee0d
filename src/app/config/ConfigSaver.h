// Keeps config.xml on disk close behind the feed list in memory.
//
// The unread counts, captions and last-update times change with every feed
// update. Each change asks for a save; the changes of the next few seconds
// are written together, in one atomic replace of the file, by a timer of the
// user-interface thread (the thread that owns the configuration document),
// so the polling thread never waits for the disk and a crash loses at most
// those few seconds. The delay runs from the first change, not the last, so
// a steady stream of updates cannot put the save off for ever.
//
// A save that fails (disk full, read-only folder) leaves the previous file
// as it was and the document marked modified, is reported, and is tried
// again with the next change and when the window closes.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>

class QWidget;
namespace xml {
class Document;
}

class TConfigSaver : public QObject {
    Q_OBJECT
public:
    // How long changes are gathered before they are written.
    static constexpr std::chrono::milliseconds kDefaultDelay{2000};

    // `document` gives the configuration document, or nullptr while there
    // is none (before start-up has loaded it).
    explicit TConfigSaver(std::function<xml::Document*()> document, QObject* parent = nullptr);

    void SetDelay(std::chrono::milliseconds delay);
    std::chrono::milliseconds Delay() const;

    // A change was made: when the document is modified, it is saved within
    // Delay(), together with every other change until then.
    void Schedule();
    // A save is due and has not happened yet.
    bool Pending() const { return FTimer.isActive(); }

    // Saves at once when the document was modified since it was last loaded
    // or saved. False after a failure, which has been reported.
    bool SaveNow();
    // The last save attempt failed (and no save has succeeded since).
    bool Failing() const { return FFailing; }

    // The last save, as the window goes: a failure then interrupts the user,
    // who must read it before the program ends.
    bool SaveOnClose();

    // Reports failures to the user: in the status line (`showStatus`), and
    // in a message box over `window` for the first failure of a run and
    // for the last save.
    void ReportTo(QWidget* window, std::function<void(const QString& message)> showStatus);
    // Told about every failed save, with a message that names the file and
    // the reason; `interrupt` is set where the user is to be interrupted
    // (once per run of failures, so not every few seconds, and the last
    // save). Tests replace it.
    using TFailureReport = std::function<void(const QString& message, bool interrupt)>;
    const TFailureReport& FailureReport() const { return FReport; }
    void SetFailureReport(TFailureReport report) { FReport = std::move(report); }

private:
    std::function<xml::Document*()> FDocument;
    void ReportFailure(const std::string& file, const std::string& reason, bool first);

    QTimer FTimer;
    bool FFailing = false;
    bool FClosing = false;
    TFailureReport FReport;
};
