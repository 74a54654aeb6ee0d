// The about box: the program's picture, name and version, links to the
// maker's home page and support page, and the folder the program keeps its
// files in (its working directory).
#pragma once

#include <QDialog>

class QAction;
class QActionGroup;
class QLabel;
class QPushButton;
class QToolButton;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    // Builds the box and translates it into the current language.
    explicit TAboutBox(QWidget* parent);
    ~TAboutBox() override;

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QLabel* Label4 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QLabel* Label5 = nullptr;      // "Home folder"
    QLabel* HomeFolder = nullptr;  // the folder itself, selectable for copying
    QPushButton* OKButton = nullptr;
    QActionGroup* ActionManagerAbout = nullptr;
    // Open the home page and the support page in the user's browser.
    QAction* BrowseHomePage = nullptr;
    QAction* BrowseSupport = nullptr;

private:
    void FormCreate();
};
