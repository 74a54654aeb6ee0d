// The option panel: turns the structure document of a TOptions store into
// an options dialog and edits the configuration document through it.
//
// On the left a tree of folders and pages (OptionsTreeView), on the right a
// stack of pages (OptionsNoteBook), one per page element of struct.xml. Each
// page holds one row per option: a label and an editor bound to one
// structure element (caption, type, choices) and one configuration element
// (the value). The editors are filled when the panel is built; ApplyChanges
// writes them back and saves config.xml.
//
// struct.xml, as the dialog reads it:
//   <anyroot>
//     <general type="page" caption="General">
//       <UpdateInterval type="string" caption="..."/>
//       <Mode type="choice" caption="..." default="fast" custom="false">
//         <fast caption="..."/> <slow caption="..."/>
//       </Mode>
//       <Proxy type="group" caption="..."> ...options... </Proxy>
//       <Start type="bool" caption="..." showlabel="false"/>
//     </general>
//     <net type="folder" caption="..."> ...pages and folders... </net>
//     <internal type="internal"/>
//   </anyroot>
// and config.xml mirrors the folder, page, group and option names.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <QString>
#include <QWidget>

#include "XmlDom.h"

class QLabel;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TOptions;
class TOptionsPage;

// A struct.xml that cannot be turned into a dialog: an element name that is
// not an identifier, or a name used twice where the dialog needs it unique.
class EOptionsStructure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The option types in their fixed order; a row's Kind is an index into
// this list.
enum TOptionKind {
    okString = 0,
    okChoice = 1,
    okPassword = 2,
    okGroup = 3,
    okBool = 4,
};

// "string", "choice", "password", "group", "bool".
const std::vector<std::string>& OptionTypes();
// Position of `type` in OptionTypes(), ignoring letter case; -1 when it is
// none of them.
int OptionTypeIndex(std::string_view type);

// One row of a page: a caption label and one editor, bound to one option.
// The label and the editor are children of the page, which deletes them;
// the row itself is owned by the page's row list.
class TOptionsControl {
public:
    TOptionsControl(TOptionsPage* page, xml::Node configNode, xml::Node structNode);

    TOptionsControl(const TOptionsControl&) = delete;
    TOptionsControl& operator=(const TOptionsControl&) = delete;

    // Editor from the configuration element, and back.
    void ReadValue();
    void WriteValue();

    // The label's left edge; the editor stands EditorOffset() further right.
    void SetLeft(int x);
    // The editor's top; the label sits 3 pixels lower, in line with the
    // editor's text.
    void SetTop(int y);
    int Height() const;

    QLabel* CaptionLabel() const { return FCaptionLabel; }
    QWidget* Editor() const { return FEditor; }
    const std::vector<std::string>& ChoiceNames() const { return FChoiceNames; }
    int Kind() const { return FKind; }
    TOptionsPage* Page() const { return FPage; }
    xml::Node ConfigNode() const { return FConfigNode; }
    xml::Node StructNode() const { return FStructNode; }
    int EditorOffset() const { return FEditorOffset; }

private:
    void CreateChoiceEditor();
    void CreateGroupEditor();
    void CreateBoolEditor();
    void CreateEditEditor();
    void HideLabel();

    void ReadChoice();
    void WriteChoice();

    QLabel* FCaptionLabel = nullptr;
    QWidget* FEditor = nullptr;
    std::vector<std::string> FChoiceNames;
    int FKind = -1;
    TOptionsPage* FPage = nullptr;
    xml::Node FConfigNode;
    xml::Node FStructNode;
    int FEditorOffset = 100;
};

// The rows of one page element, or of one `group` option. A framed page
// (a group) draws itself like a group box with its caption in the frame and
// sizes itself to its rows.
class TOptionsPage : public QWidget {
    Q_OBJECT
public:
    explicit TOptionsPage(QWidget* parent = nullptr);
    ~TOptionsPage() override;

    xml::Node StructNode() const { return FStructNode; }
    void SetStructNode(xml::Node node) { FStructNode = node; }
    xml::Node ConfigNode() const { return FConfigNode; }
    void SetConfigNode(xml::Node node) { FConfigNode = node; }
    bool Framed() const { return FFramed; }
    void SetFramed(bool framed);
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);

    // One row per option element of StructNode(), laid out top to bottom.
    // Raises EOptionsStructure for an option name that is not an
    // identifier or is used twice on this page.
    void BuildControls();
    void LoadValues();
    void StoreValues();

    const std::vector<std::unique_ptr<TOptionsControl>>& Rows() const { return FRows; }
    // Width and height the rows need, margins included.
    QSize ContentSize() const { return FContentSize; }

    QSize sizeHint() const override { return FContentSize; }
    QSize minimumSizeHint() const override { return FContentSize; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void FitFrameToRows();

    xml::Node FStructNode;
    xml::Node FConfigNode;
    bool FFramed = false;
    QString FCaption;
    std::vector<std::unique_ptr<TOptionsControl>> FRows;
    QSize FContentSize;
};

// The whole panel: tree, notebook and the list of pages.
class TOptionsPanel : public QWidget {
    Q_OBJECT
public:
    explicit TOptionsPanel(QWidget* parent = nullptr);
    ~TOptionsPanel() override;

    TOptions* Options() const { return FOptions; }
    // Builds the tree and the pages from `options` and loads their values.
    // Setting another store rebuilds the panel from scratch. Raises
    // EOptionsStructure for a struct.xml the dialog cannot be built from,
    // and whatever the store raises; the panel is then left empty.
    void SetOptions(TOptions* options);

    // Every page writes its values into the configuration document, then
    // the store saves config.xml. Errors propagate; rows after a failing one
    // are not written and nothing is saved.
    void ApplyChanges();

    // The tree's width; 0 hides the tree, leaving the page chosen at build
    // time on show.
    int TreeWidth() const;
    void SetTreeWidth(int width);

    // Adds the entries of structure element `structNode` (the structure's
    // root when null) under `parent` (top level when null), with
    // `configNode` as the matching configuration element.
    void BuildTree(QTreeWidgetItem* parent, xml::Node structNode, xml::Node configNode);

    // The notebook page a tree entry shows: its index for a page entry, -1
    // for a folder, 0 for an entry of any other type.
    static int PageIndex(const QTreeWidgetItem* item);

    QTreeWidget* OptionsTreeView() const { return FTreeView; }
    QStackedWidget* OptionsNoteBook() const { return FNoteBook; }
    const std::vector<TOptionsPage*>& Pages() const { return FPages; }

    // Room the widest and tallest page needs beside the tree.
    QSize sizeHint() const override;

private:
    void TreeViewChange(QTreeWidgetItem* current);
    void AddPage(QTreeWidgetItem* entry, xml::Node structNode, xml::Node configNode);
    void Clear();

    QTreeWidget* FTreeView = nullptr;
    QStackedWidget* FNoteBook = nullptr;
    std::vector<TOptionsPage*> FPages;
    TOptions* FOptions = nullptr;
    int FTreeWidth = 100;
};
