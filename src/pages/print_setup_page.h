// The "Print Setup" tab page: the widgets over PrintSetupActions.
//
// Every change sends its command at once. The three number fields act on every change of their
// text while the ready flag is set (so texts the program writes with the flag clear send
// nothing); typing is limited to digits, but whatever text a field holds (a program can write
// any) is read as a signed number. The lists act only on the user's choices, the check boxes only on clicks.
#pragma once

#include <QWidget>

#include "pages/core/print_setup_actions.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace pellory::pages {

class CDialogPSetup : public QWidget, public PrintSetupActions {
public:
    // Control ids of the page.
    static constexpr int kIdLineSpace = 1041;
    static constexpr int kIdLeftMargin = 1018;
    static constexpr int kIdRightMargin = 1042;
    static constexpr int kIdAlignment = 1043;
    static constexpr int kIdDensity = 1004;
    static constexpr int kIdSpeed = 1006;
    static constexpr int kIdFontSize = 1005;
    static constexpr int kIdCharacter = 1007;
    static constexpr int kIdCodeTable = 1008;
    static constexpr int kIdDoubleHigh = 1019;
    static constexpr int kIdDoubleWidth = 1021;
    static constexpr int kIdEmphasized = 1022;
    static constexpr int kIdItalic = 1023;
    static constexpr int kIdBorder = 1024;
    static constexpr int kIdUnderline = 1025;
    static constexpr int kIdHighlight = 1026;
    static constexpr int kIdKanjiMode = 1027;
    static constexpr int kIdReset = 1048;

    explicit CDialogPSetup(QWidget* parent = nullptr);
    ~CDialogPSetup() override;

    // Fills the lists, selects their defaults and switches the echo on. Sends nothing.
    void InitPrintSetupPage();
    // The main window writes the three number fields after the page's initialisation. Like any
    // change of their text, this acts only while the ready flag is set.
    void SetNumberFields(const QString& lineSpace, const QString& left, const QString& right);

    // The "Reset" button's handler.
    void OnReset();

private:
    void BuildControls();
    void OnLineSpaceChanged();
    void OnMarginChanged(bool left);
    void OnStyleClicked(StyleBit clicked);
    StyleBoxes CurrentStyle() const;
    // Puts the form, printer and style controls back to their defaults.
    void RestoreDefaults();

    QLineEdit* lineSpace_ = nullptr;
    QLineEdit* leftMargin_ = nullptr;
    QLineEdit* rightMargin_ = nullptr;
    QComboBox* alignment_ = nullptr;
    QComboBox* density_ = nullptr;
    QComboBox* speed_ = nullptr;
    QComboBox* font_ = nullptr;
    QComboBox* character_ = nullptr;
    QComboBox* codeTable_ = nullptr;
    QCheckBox* doubleHigh_ = nullptr;
    QCheckBox* doubleWidth_ = nullptr;
    QCheckBox* emphasized_ = nullptr;
    QCheckBox* italic_ = nullptr;
    QCheckBox* border_ = nullptr;
    QCheckBox* underline_ = nullptr;
    QCheckBox* highlight_ = nullptr;
    QCheckBox* kanji_ = nullptr;
    QPushButton* reset_ = nullptr;
};

}  // namespace pellory::pages
