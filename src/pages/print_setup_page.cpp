#include "pages/print_setup_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "pages/page_widgets.h"

namespace pellory::pages {

namespace {

// A number field with its start-up text, written without sending anything. Typing is limited to
// digits; whatever the field holds (a program can write any text) is read as a signed number.
QLineEdit* MakeNumberField(QWidget* parent, const DialogUnits& du, int id, const char* name, const char* text,
                           int x, int y, int w) {
    auto* edit = MakeControlDu<QLineEdit>(parent, du, id, name, {x, y, w, 12});
    widgets::LimitToDigits(edit);
    const QSignalBlocker block(edit);
    edit->setText(QString::fromLatin1(text));
    return edit;
}

QComboBox* MakeList(QWidget* parent, const DialogUnits& du, int id, const char* name, int x, int y, int w) {
    return MakeControlDu<QComboBox>(parent, du, id, name, {x, y, w, 13});
}

QCheckBox* MakeBox(QWidget* parent, const DialogUnits& du, int id, const char* name, const char* text, int x, int y) {
    return MakeControlDu<QCheckBox>(parent, du, id, name, {x, y, 64, 10}, QString::fromLatin1(text));
}

// Fills a list with its entries and selects its default entry; sends nothing.
void FillList(QComboBox* list, SetupList which) { ReplaceEntries(list, ListEntries(which), DefaultEntry(which)); }

}  // namespace

CDialogPSetup::CDialogPSetup(QWidget* parent) : QWidget(parent) { BuildControls(); }

CDialogPSetup::~CDialogPSetup() = default;

void CDialogPSetup::BuildControls() {
    const DialogUnits du = widgets::SizeAsPage(this);

    // Left column: the form and the printer.
    MakeGroupDu(this, du, "Form Setting", 7, 2, 150, 78);
    MakeLabelDu(this, du, "Line Space", 16, 16, 56);
    lineSpace_ = MakeNumberField(this, du, kIdLineSpace, "lineSpace", kDefaultLineSpaceText, 76, 14, 72);
    MakeLabelDu(this, du, "Left Margin", 16, 31, 56);
    leftMargin_ = MakeNumberField(this, du, kIdLeftMargin, "leftMargin", kDefaultMarginText, 76, 29, 72);
    MakeLabelDu(this, du, "Right Margin", 16, 46, 56);
    rightMargin_ = MakeNumberField(this, du, kIdRightMargin, "rightMargin", kDefaultMarginText, 76, 44, 72);
    MakeLabelDu(this, du, "Aligment", 16, 61, 56);
    alignment_ = MakeList(this, du, kIdAlignment, "alignment", 76, 59, 72);

    MakeGroupDu(this, du, "Printer Setting", 7, 84, 150, 46);
    MakeLabelDu(this, du, "Print Density", 16, 98, 56);
    density_ = MakeList(this, du, kIdDensity, "density", 76, 96, 72);
    MakeLabelDu(this, du, "Print Speed", 16, 113, 56);
    speed_ = MakeList(this, du, kIdSpeed, "speed", 76, 111, 72);

    reset_ = MakeControlDu<QPushButton>(this, du, kIdReset, "reset", {7, 136, 60, 14}, QStringLiteral("&Reset"));

    // Right column: the font.
    MakeGroupDu(this, du, "Font Setting", 163, 2, 136, 148);
    MakeLabelDu(this, du, "Font Size", 172, 16, 48);
    font_ = MakeList(this, du, kIdFontSize, "fontSize", 222, 14, 72);
    MakeLabelDu(this, du, "Character", 172, 31, 48);
    character_ = MakeList(this, du, kIdCharacter, "character", 222, 29, 72);
    MakeLabelDu(this, du, "Code Table", 172, 46, 48);
    codeTable_ = MakeList(this, du, kIdCodeTable, "codeTable", 222, 44, 72);

    doubleHigh_ = MakeBox(this, du, kIdDoubleHigh, "doubleHigh", "Double &High", 172, 68);
    doubleWidth_ = MakeBox(this, du, kIdDoubleWidth, "doubleWidth", "Double &Width", 232, 68);
    emphasized_ = MakeBox(this, du, kIdEmphasized, "emphasized", "&Emphasized", 172, 84);
    italic_ = MakeBox(this, du, kIdItalic, "italic", "&Italic", 232, 84);
    border_ = MakeBox(this, du, kIdBorder, "border", "&Border", 172, 100);
    underline_ = MakeBox(this, du, kIdUnderline, "underline", "&Underline", 232, 100);
    highlight_ = MakeBox(this, du, kIdHighlight, "highlight", "Hi&ghlight", 172, 116);
    kanji_ = MakeBox(this, du, kIdKanjiMode, "kanjiMode", "&Kanji Mode", 232, 116);

    // Number fields: every change of the text (the actions test the ready flag).
    connect(lineSpace_, &QLineEdit::textChanged, this, [this] { OnLineSpaceChanged(); });
    connect(leftMargin_, &QLineEdit::textChanged, this, [this] { OnMarginChanged(true); });
    connect(rightMargin_, &QLineEdit::textChanged, this, [this] { OnMarginChanged(false); });

    // Lists: only the user's choices (a selection made by the program emits no activated).
    struct ListSignal {
        QComboBox* list;
        SetupList which;
    };
    for (const ListSignal& l : {ListSignal{alignment_, SetupList::Alignment}, ListSignal{density_, SetupList::Density},
                                ListSignal{speed_, SetupList::Speed}, ListSignal{font_, SetupList::Font},
                                ListSignal{character_, SetupList::CharacterSet},
                                ListSignal{codeTable_, SetupList::CodeTable}}) {
        const SetupList which = l.which;
        connect(l.list, &QComboBox::activated, this, [this, which](int index) { SelectEntry(which, index); });
    }

    // Check boxes: clicks only (setChecked by the program emits no clicked).
    struct BoxSignal {
        QCheckBox* box;
        StyleBit bit;
    };
    for (const BoxSignal& b : {BoxSignal{doubleHigh_, protocol::kModeDoubleHeight}, BoxSignal{doubleWidth_, protocol::kModeDoubleWidth},
                               BoxSignal{emphasized_, protocol::kModeEmphasized}, BoxSignal{italic_, protocol::kModeItalic},
                               BoxSignal{border_, protocol::kModeBorder}, BoxSignal{underline_, protocol::kModeUnderline},
                               BoxSignal{highlight_, protocol::kModeHighlight}}) {
        const StyleBit bit = b.bit;
        connect(b.box, &QCheckBox::clicked, this, [this, bit] { OnStyleClicked(bit); });
    }
    connect(kanji_, &QCheckBox::clicked, this, [this](bool checked) { ClickKanji(checked); });
    connect(reset_, &QPushButton::clicked, this, [this] { OnReset(); });
}

void CDialogPSetup::InitPrintSetupPage() {
    FillList(alignment_, SetupList::Alignment);
    FillList(density_, SetupList::Density);
    FillList(speed_, SetupList::Speed);
    FillList(font_, SetupList::Font);
    FillList(character_, SetupList::CharacterSet);
    FillList(codeTable_, SetupList::CodeTable);
    Start();
}

void CDialogPSetup::SetNumberFields(const QString& lineSpace, const QString& left, const QString& right) {
    lineSpace_->setText(lineSpace);
    leftMargin_->setText(left);
    rightMargin_->setText(right);
}

void CDialogPSetup::OnLineSpaceChanged() {
    if (!ReadyFlag) return;
    ChangeLineSpace(Latin1(lineSpace_->text()));
}

void CDialogPSetup::OnMarginChanged(bool left) {
    if (!ReadyFlag) return;
    const std::string l = Latin1(leftMargin_->text());
    const std::string r = Latin1(rightMargin_->text());
    if (left) {
        ChangeLeftMargin(l, r);
    } else {
        ChangeRightMargin(l, r);
    }
}

StyleBoxes CDialogPSetup::CurrentStyle() const {
    StyleBoxes s;
    s.doubleHigh = doubleHigh_->isChecked();
    s.doubleWidth = doubleWidth_->isChecked();
    s.emphasized = emphasized_->isChecked();
    s.italic = italic_->isChecked();
    s.border = border_->isChecked();
    s.underline = underline_->isChecked();
    s.highlight = highlight_->isChecked();
    return s;
}

void CDialogPSetup::OnStyleClicked(StyleBit clicked) { ClickStyle(clicked, CurrentStyle()); }

void CDialogPSetup::OnReset() {
    Reset([this] { RestoreDefaults(); });
}

void CDialogPSetup::RestoreDefaults() {
    // Selections and check states set here emit neither activated nor clicked; the number
    // fields' texts are written while the ready flag is clear.
    alignment_->setCurrentIndex(DefaultEntry(SetupList::Alignment));
    density_->setCurrentIndex(DefaultEntry(SetupList::Density));
    font_->setCurrentIndex(DefaultEntry(SetupList::Font));
    speed_->setCurrentIndex(DefaultEntry(SetupList::Speed));
    lineSpace_->setText(QString::fromLatin1(kDefaultLineSpaceText));
    leftMargin_->setText(QString::fromLatin1(kDefaultMarginText));
    rightMargin_->setText(QString::fromLatin1(kDefaultMarginText));
    for (QCheckBox* box : {doubleHigh_, doubleWidth_, emphasized_, italic_, border_, underline_, highlight_}) {
        box->setChecked(false);
    }
}

}  // namespace pellory::pages
