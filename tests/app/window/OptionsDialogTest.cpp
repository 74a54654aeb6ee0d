// The options dialog over the delivered struct.xml and config.xml, in a
// staged working directory.
#include "fOptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTreeWidget>

#include "AppTestSupport.h"
#include "Options.h"
#include "OptionsPanel.h"
#include "XmlDom.h"
#include "uvxLanguage.h"

namespace {

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::make_unique<apptest::TStagedHome>();
        SelectLanguage(1033);
    }
    void TearDown() override {
        options_.reset();
        // Leave the catalogue in English for the suites that follow.
        GlobalLanguage().SetLCID(1033);
        home_.reset();
    }

    // Selects a language and loads the store from that language's
    // struct.xml, as the main window does after a switch.
    void SelectLanguage(std::uint32_t lcid) {
        GlobalLanguage().Scan("languages");
        GlobalLanguage().SetLCID(lcid);
        options_.reset();
        options_ = std::make_unique<TOptions>();
        options_->Load(LangFile("struct.xml"), "config.xml");
    }

    // A value as config.xml holds it on disk now.
    std::string Saved(std::string_view path) {
        xml::Document config;
        config.LoadFromFile((home_->Dir() / "config.xml").string());
        return TOptions::FindNodeByPath(config.DocumentElement(), path).Text();
    }
    std::string Current(std::string_view path) { return options_->GetConfigNode(path).Text(); }

    template <typename T>
    static T* Find(QObject* root, const char* name) {
        return root->findChild<T*>(QString::fromLatin1(name));
    }
    static QLineEdit* Edit(TFormOptions& dialog, const char* option) {
        auto* label = Find<QLabel>(dialog.OptionsPanel, option);
        return label ? qobject_cast<QLineEdit*>(RowOf(dialog, label)->Editor()) : nullptr;
    }
    static QCheckBox* Check(TFormOptions& dialog, const char* option) {
        auto* label = Find<QLabel>(dialog.OptionsPanel, option);
        return label ? qobject_cast<QCheckBox*>(RowOf(dialog, label)->Editor()) : nullptr;
    }
    static TOptionsControl* RowOf(TFormOptions& dialog, const QLabel* label) {
        for (TOptionsPage* page : dialog.OptionsPanel->Pages()) {
            for (const auto& row : page->Rows()) {
                if (row->CaptionLabel() == label) return row.get();
            }
        }
        return nullptr;
    }

    std::unique_ptr<apptest::TStagedHome> home_;
    std::unique_ptr<TOptions> options_;
};

}  // namespace

TEST_F(OptionsDialogTest, HostsTheGeneralPageWithoutTree) {
    TFormOptions dialog(nullptr, *options_);
    EXPECT_EQ(dialog.objectName(), "FormOptions");
    EXPECT_EQ(dialog.windowTitle(), "Options");
    EXPECT_GE(dialog.width(), 339);
    EXPECT_GE(dialog.height(), 236);
    EXPECT_EQ(dialog.OptionsPanel->objectName(), "OptionsPanel");
    EXPECT_EQ(dialog.OptionsPanel->TreeWidth(), 0);
    EXPECT_EQ(dialog.OptionsPanel->Options(), options_.get());
    EXPECT_EQ(dialog.OptionsPanel->OptionsNoteBook()->currentWidget()->objectName(), "general");

    // OK, Apply, Cancel from left to right; OK is the default button.
    EXPECT_LT(dialog.OKBtn->x(), dialog.ApplyBtn->x());
    EXPECT_LT(dialog.ApplyBtn->x(), dialog.CancelBtn->x());
    EXPECT_TRUE(dialog.OKBtn->isDefault());
    EXPECT_EQ(dialog.CancelBtn->text(), "Cancel");

    // Every general setting is on the page, filled from config.xml, and the
    // page fits the dialog.
    ASSERT_NE(Edit(dialog, "UpdateInterval"), nullptr);
    EXPECT_EQ(Edit(dialog, "UpdateInterval")->text(), "60");
    EXPECT_EQ(Edit(dialog, "BalloonTimeout")->text(), "10");
    for (const char* option : {"StartTrayIcon", "ExternalBrowser", "SecureFeeds", "FollowRedirects"}) {
        QCheckBox* box = Check(dialog, option);
        ASSERT_NE(box, nullptr) << option;
        EXPECT_EQ(box->isChecked(), Current(std::string("general\\") + option) == "True") << option;
        EXPECT_FALSE(box->text().isEmpty()) << option;
    }
    const QWidget* sheet = dialog.OptionsPanel->OptionsNoteBook()->currentWidget();
    dialog.show();
    const TOptionsPage* page = dialog.OptionsPanel->Pages().front();
    EXPECT_LE(page->ContentSize().height(), sheet->height());
    EXPECT_LE(page->ContentSize().width(), sheet->width());
}

TEST_F(OptionsDialogTest, ApplyThenCancelKeepsTheAppliedValues) {
    TFormOptions dialog(nullptr, *options_);
    Edit(dialog, "UpdateInterval")->setText("120");
    Check(dialog, "ExternalBrowser")->setChecked(true);
    dialog.ApplyBtn->click();
    EXPECT_EQ(Saved("general\\UpdateInterval"), "120");
    EXPECT_EQ(Saved("general\\ExternalBrowser"), "True");

    Edit(dialog, "UpdateInterval")->setText("999");
    dialog.CancelBtn->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(Current("general\\UpdateInterval"), "120");
    options_.reset();
    EXPECT_EQ(Saved("general\\UpdateInterval"), "120");
    EXPECT_EQ(Saved("general\\ExternalBrowser"), "True");
}

TEST_F(OptionsDialogTest, CancelAloneChangesNoValue) {
    const std::string before = home_->ReadFile("config.xml");
    {
        TFormOptions dialog(nullptr, *options_);
        Edit(dialog, "BalloonTimeout")->setText("3");
        Check(dialog, "SecureFeeds")->toggle();
        dialog.CancelBtn->click();
    }
    EXPECT_EQ(Current("general\\BalloonTimeout"), "10");
    EXPECT_EQ(Current("general\\SecureFeeds"), "True");
    EXPECT_EQ(home_->ReadFile("config.xml"), before);
    options_.reset();
    EXPECT_EQ(Saved("general\\BalloonTimeout"), "10");
    EXPECT_EQ(Saved("general\\SecureFeeds"), "True");
}

TEST_F(OptionsDialogTest, OkWritesSavesAndCloses) {
    TFormOptions dialog(nullptr, *options_);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    Check(dialog, "StartTrayIcon")->setChecked(true);
    Edit(dialog, "BalloonTimeout")->setText("25");
    dialog.OKBtn->click();
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(options_->ConfigDocument().Modified());
    EXPECT_EQ(Saved("general\\StartTrayIcon"), "True");
    EXPECT_EQ(Saved("general\\BalloonTimeout"), "25");
}

TEST_F(OptionsDialogTest, FailedSaveKeepsTheDialogOpen) {
    TFormOptions dialog(nullptr, *options_);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    // A folder where config.xml should be: the file cannot be replaced.
    std::filesystem::remove(home_->Dir() / "config.xml");
    std::filesystem::create_directory(home_->Dir() / "config.xml");
    EXPECT_THROW(dialog.OKBtnClick(), std::exception);
    EXPECT_EQ(accepted.count(), 0);
    EXPECT_THROW(dialog.ApplyBtnClick(), std::exception);
    std::filesystem::remove(home_->Dir() / "config.xml");
}

TEST_F(OptionsDialogTest, OpensInGermanAfterASwitch) {
    SelectLanguage(1031);
    xml::Document german;
    german.LoadFromFile("languages/0407/language.xml");
    const xml::Node form = german.DocumentElement().ChildByName("form").ChildByName("FormOptions");
    xml::Document germanStruct;
    germanStruct.LoadFromFile("languages/0407/struct.xml");
    const xml::Node general = germanStruct.DocumentElement().ChildByName("general");

    TFormOptions dialog(nullptr, *options_);
    EXPECT_EQ(dialog.windowTitle().toStdString(), form.Attribute("Caption").value_or("?"));
    EXPECT_NE(dialog.windowTitle(), "Options");
    EXPECT_EQ(dialog.CancelBtn->text().toStdString(), form.ChildByName("CancelBtn").Attribute("Caption").value_or("?"));
    EXPECT_EQ(Find<QLabel>(dialog.OptionsPanel, "UpdateInterval")->text().toStdString(),
              general.ChildByName("UpdateInterval").Attribute("caption").value_or("?"));
    EXPECT_EQ(Check(dialog, "StartTrayIcon")->text().toStdString(),
              general.ChildByName("StartTrayIcon").Attribute("caption").value_or("?"));
}

TEST_F(OptionsDialogTest, ShippedCaptionsFitBesideTheirEditors) {
    for (std::uint32_t lcid : {1033u, 1031u}) {
        SelectLanguage(lcid);
        TFormOptions dialog(nullptr, *options_);
        for (const TOptionsPage* page : dialog.OptionsPanel->Pages()) {
            for (const auto& row : page->Rows()) {
                if (row->CaptionLabel()->isHidden()) continue;
                EXPECT_FALSE(row->CaptionLabel()->text().isEmpty()) << lcid << " " << row->StructNode().Name();
                // A longer caption would run under the editor.
                EXPECT_LE(row->CaptionLabel()->sizeHint().width(), row->EditorOffset() - 2)
                    << lcid << " " << row->CaptionLabel()->text().toStdString();
            }
        }
    }
}
