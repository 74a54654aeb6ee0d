// The options dialog: the option panel over the main window's store, with
// OK, Apply and Cancel.
//
// OK and Apply write every page into config.xml; Cancel closes without
// writing, so what an earlier Apply wrote stays. Given the window's
// shortcuts, a second tab lists them (Options > Shortcuts); OK and Apply
// set them on the actions. Nothing is re-read when the
// dialog closes: each setting is read again where it is next used.
#pragma once

#include <QDialog>

class QPushButton;
class QTabWidget;
class TShortcutController;
class TShortcutPage;
class TOptions;
class TOptionsPanel;

class TFormOptions : public QDialog {
    Q_OBJECT
public:
    // Builds the panel from `options` and translates the dialog into the
    // current language. A struct.xml the panel cannot be built from raises
    // (EOptionsStructure, or the store's errors); the dialog is then not
    // shown.
    TFormOptions(QWidget* parent, TOptions& options, TShortcutController* shortcuts = nullptr);
    ~TFormOptions() override;

    // Apply, then close with the result OK. An error leaves the dialog open
    // and propagates.
    void OKBtnClick();
    // Apply; the dialog stays open.
    void ApplyBtnClick();
    void ApplySessionStart();

    TOptionsPanel* OptionsPanel = nullptr;
    QTabWidget* Tabs = nullptr;  // with the shortcuts only
    TShortcutPage* ShortcutPage = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* ApplyBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

private:
    void FormCreate();
    void ApplyShortcuts();
    void FitToPanel();
    // Runs a button's handler; an error is shown to the user instead of
    // leaving through the event loop.
    void RunHandler(void (TFormOptions::*handler)());

    TShortcutController* FShortcuts = nullptr;
};
