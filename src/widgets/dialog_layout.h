// Dialog-unit layout and control ids.
//
// Window and control sizes are given in dialog units: a horizontal unit is a quarter of the
// dialog font's average character width, a vertical unit an eighth of its height. Every control
// carries its numeric id as the "controlId" property (and a readable objectName), so that tests
// and the window find controls by id.
#pragma once

#include <QComboBox>
#include <QFont>
#include <QRect>
#include <QSignalBlocker>
#include <QSize>
#include <QString>
#include <QWidget>

#include <string>
#include <utility>

class QGroupBox;
class QLabel;
class QLineEdit;

namespace pellory::widgets {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int x(int du) const;  // horizontal dialog units to pixels
    int y(int du) const;  // vertical dialog units to pixels
    QSize size(int w, int h) const { return {x(w), y(h)}; }
    QRect rect(int left, int top, int w, int h) const { return {x(left), y(top), x(w), y(h)}; }
    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }

private:
    int baseX_;
    int baseY_;
};

// Every tab page's layout is 316 x 180 dialog units.
constexpr int kPageWidthDu = 316;
constexpr int kPageHeightDu = 180;
// Gives a tab page its size and returns the dialog units of its font.
DialogUnits SizeAsPage(QWidget* page);

// Places w at a dialog-unit rectangle inside its parent.
void PlaceDu(QWidget* w, const DialogUnits& du, int left, int top, int width, int height);

// The height of a one-line label, in dialog units.
inline constexpr int kLabelHeightDu = 9;

// A group box with this title, placed at a dialog-unit rectangle inside parent.
QGroupBox* MakeGroupDu(QWidget* parent, const DialogUnits& du, const QString& title, int x, int y, int w, int h);
// A one-line label with this text, placed at a dialog-unit position and width inside parent.
QLabel* MakeLabelDu(QWidget* parent, const DialogUnits& du, const QString& text, int x, int y, int w,
                    int h = kLabelHeightDu);

// The caption with a keyboard mnemonic on letter (Alt+letter presses the control): the '&' goes
// before the first word that starts with the letter, else before the letter's first place
// (either case). A '&' of the caption itself is doubled, so that it still shows. Without the
// letter in the caption the caption comes back without a mnemonic.
QString WithMnemonic(const QString& caption, QChar letter);

// Every drop-down list under root opens at least as wide as its longest entry, also after its
// entries change (a narrow list keeps its place in the layout; only the open list widens).
void WidenDropDownLists(QWidget* root);

inline constexpr const char* kControlIdProperty = "controlId";

// Gives a control its id and a readable object name.
void SetControlId(QWidget* w, int id, const QString& name);

// Limits what the user types or pastes into a field to decimal digits; a text the program writes
// is not filtered.
void LimitToDigits(QLineEdit* field);

// A dialog-unit rectangle: left, top, width, height.
struct DuRect {
    int x, y, w, h;
};

// A new control of a page: made as T(args..., parent), given its id and object name, placed at
// a dialog-unit rectangle inside parent. Controls are made in their tab order.
template <typename T, typename... Args>
T* MakeControlDu(QWidget* parent, const DialogUnits& du, int id, const QString& name, DuRect at, Args&&... args) {
    auto* control = new T(std::forward<Args>(args)..., parent);
    SetControlId(control, id, name);
    PlaceDu(control, du, at.x, at.y, at.w, at.h);
    return control;
}

// The text of a list entry: Latin-1 for the fixed entry tables, UTF-8 for entries made at run time.
inline QString EntryText(const char* entry) { return QString::fromLatin1(entry); }
inline QString EntryText(const std::string& entry) { return QString::fromStdString(entry); }

// Replaces the entries of a drop-down list, each inserted at its own position so that they keep
// their order, and selects current (-1: none); the list sends no signal meanwhile. text gives an
// entry's text from an element of entries.
template <typename Entries, typename Text>
void ReplaceEntries(QComboBox* list, const Entries& entries, int current, Text text) {
    const QSignalBlocker block(list);
    list->clear();
    int i = 0;
    for (const auto& entry : entries) list->insertItem(i++, EntryText(text(entry)));
    list->setCurrentIndex(current);
}
template <typename Entries>
void ReplaceEntries(QComboBox* list, const Entries& entries, int current) {
    ReplaceEntries(list, entries, current, [](const auto& entry) -> const auto& { return entry; });
}
int ControlId(const QWidget* w);
// The first descendant of root with the id, or null.
QWidget* FindControl(QWidget* root, int id);
template <typename T>
T* FindControl(QWidget* root, int id) {
    return qobject_cast<T*>(FindControl(root, id));
}

}  // namespace pellory::widgets
