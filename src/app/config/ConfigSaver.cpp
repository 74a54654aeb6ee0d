#include "ConfigSaver.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <exception>
#include <filesystem>

#include "XmlDom.h"
#include "uvxLanguage.h"

TConfigSaver::TConfigSaver(std::function<xml::Document*()> document, QObject* parent)
    : QObject(parent), FDocument(std::move(document)) {
    FTimer.setSingleShot(true);
    FTimer.setInterval(kDefaultDelay);
    connect(&FTimer, &QTimer::timeout, this, [this] { SaveNow(); });
}

void TConfigSaver::SetDelay(std::chrono::milliseconds delay) { FTimer.setInterval(delay); }

std::chrono::milliseconds TConfigSaver::Delay() const { return FTimer.intervalAsDuration(); }

void TConfigSaver::Schedule() {
    xml::Document* document = FDocument ? FDocument() : nullptr;
    if (!document || !document->Modified()) return;
    // A save already due takes this change along.
    if (!FTimer.isActive()) FTimer.start();
}

bool TConfigSaver::SaveNow() {
    FTimer.stop();
    xml::Document* document = FDocument ? FDocument() : nullptr;
    // A document that must not be written back (a start that failed half
    // way, a file that did not load) is left alone.
    if (!document || !document->AutoSave() || !document->Modified() || document->FileName().empty()) return true;
    try {
        document->Save();
        FFailing = false;
        return true;
    } catch (const std::exception& error) {
        const bool first = !FFailing;
        FFailing = true;
        std::error_code ec;
        std::filesystem::path file = std::filesystem::absolute(document->FileName(), ec);
        if (ec) file = document->FileName();
        ReportFailure(file.string(), error.what(), first);
        return false;
    }
}

bool TConfigSaver::SaveOnClose() {
    // Saved here rather than silently by the option store as it goes, so a
    // failure can still be told.
    FClosing = true;
    return SaveNow();
}

void TConfigSaver::ReportFailure(const std::string& file, const std::string& reason, bool first) {
    QString message;
    try {
        message = LangFmtQ("ConfigSaveFailed", {file, reason});
    } catch (const std::exception&) {
    }
    if (message.isEmpty())
        message = QString::fromStdString("The settings could not be saved to \"" + file + "\": " + reason +
                                         ". The previous file is kept; Quillet tries again with the next change.");
    if (FReport) FReport(message, first || FClosing);
}

void TConfigSaver::ReportTo(QWidget* window, std::function<void(const QString& message)> showStatus) {
    FReport = [this, window = QPointer<QWidget>(window), showStatus = std::move(showStatus)](const QString& message,
                                                                                             bool interrupt) {
        if (showStatus) showStatus(message);
        if (!interrupt || !window) return;
        if (FClosing) {
            // The window is going away: the user must read this before the
            // program ends.
            QMessageBox::warning(window, window->windowTitle(), message);
            return;
        }
        // Once per run of failures, and without stopping the event loop:
        // polling and the next attempt go on behind the message.
        auto* box = new QMessageBox(QMessageBox::Warning, window->windowTitle(), message, QMessageBox::Ok, window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
}
