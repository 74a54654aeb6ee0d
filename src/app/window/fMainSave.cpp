// Keeping config.xml saved while the program runs: the feeds' unread counts
// and last-update times reach the disk a few seconds after they change, and
// a save that fails is reported instead of passing silently.
#include "fMain.h"

#include <QMessageBox>

#include <exception>

#include "ConfigSaver.h"
#include "uvxLanguage.h"

void TFormMain::CreateConfigSaver() {
    ConfigSaver =
        new TConfigSaver([this]() -> xml::Document* { return FOptions ? &FOptions->ConfigDocument() : nullptr; }, this);
    ConfigSaver->OnFailure = [this](const std::string& file, const std::string& reason, bool first) {
        QString message;
        try {
            message = LangFmtQ("ConfigSaveFailed", {file, reason});
        } catch (const std::exception&) {
        }
        if (message.isEmpty())
            message = QString::fromStdString("The settings could not be saved to \"" + file + "\": " + reason +
                                             ". The previous file is kept; Quillet tries again with the next change.");
        if (ReportConfigSaveFailure) ReportConfigSaveFailure(message, first || FFinalSave);
    };
    ReportConfigSaveFailure = [this](const QString& message, bool interrupt) {
        SetStatusText(0, message);
        if (!interrupt) return;
        if (FFinalSave) {
            // The window is going away: the user must read this before the
            // program ends.
            QMessageBox::warning(this, windowTitle(), message);
            return;
        }
        // Once per run of failures, and without stopping the event loop:
        // polling and the next attempt go on behind the message.
        auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), message, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
}

void TFormMain::ScheduleConfigSave() {
    if (ConfigSaver && FOptions && FOptions->ConfigDocument().Modified()) ConfigSaver->Schedule();
}

void TFormMain::SaveConfigOnClose() {
    // Saved here rather than silently by the option store as it goes, so a
    // failure can still be told.
    FFinalSave = true;
    if (ConfigSaver) ConfigSaver->SaveNow();
}
