// The update cycle of the main window: updating one feed and the polling
// thread that walks the feed list.
#include "fMain.h"

void TFormMain::ConnectUpdateAndDisplay() {}

void TFormMain::UpdateFeed(QTreeWidgetItem* /*node*/) {}

void TFormMain::StartUpdateThread() {}

void TFormMain::StopUpdateThread() {}

void TFormMain::ShowFeed(QTreeWidgetItem* /*node*/) {}
