// The window's side of keeping config.xml saved while the program runs: the
// saver gathers the changes and reports its failures in the status line and
// over the window.
#include "fMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

#include "FeedListController.h"
#include "FeedTree.h"
#include "ReadingPane.h"
#include "TrayIcon.h"

#include "ConfigSaver.h"

void TFormMain::CreateConfigSaver() {
    FConfigSaver =
        new TConfigSaver([this]() -> xml::Document* { return FOptions ? &FOptions->ConfigDocument() : nullptr; }, this);
    FConfigSaver->ReportTo(this, [this](const QString& message) { SetStatusText(0, message); });
}

void TFormMain::ScheduleConfigSave() {
    if (FConfigSaver) FConfigSaver->Schedule();
}
