#include "app/main_window.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTabBar>
#include <QTextEdit>

#include <algorithm>

#include "app/about_dialog.h"
#include "history/history_export.h"
#include "pages/core/page_link.h"
#include "widgets/compact_tab_style.h"
#include "widgets/dialog_layout.h"
#include "widgets/resources.h"

namespace pellory::app {

namespace {

// Whether w is a place to type text (or lies inside one): a line edit, a text edit (the receive
// view too), a spin box or an editable combo box.
bool IsTextField(const QWidget* w, const QWidget* window) {
    for (; w != nullptr && w != window; w = w->parentWidget()) {
        if (qobject_cast<const QLineEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w) ||
            qobject_cast<const QTextEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w)) {
            return true;
        }
        if (const auto* combo = qobject_cast<const QComboBox*>(w); combo && combo->isEditable()) return true;
    }
    return false;
}

}  // namespace

CPelloryDlg::CPelloryDlg(QWidget* parent)
    : QDialog(parent),
      icon_(widgets::ProgramIcon()),
      tabStyle_(std::make_unique<widgets::CompactTabStyle>()),
      tab_(this),
      setup_(nullptr),
      quickTest_(nullptr),
      printSetup_(nullptr),
      textPrint_(nullptr),
      imagePrint_(nullptr),
      barcode_(nullptr),
      expand_(QString::fromLatin1(kExpandText), this),
      historyGroup_(QString::fromLatin1(kHistoryGroupText), this),
      historyList_(this),
      clear_(QStringLiteral("Clear"), this),
      save_(QStringLiteral("Save..."), this),
      about_(QString::fromLatin1(kAboutMenuText), this),
      quit_(this),
      pageLinks_{&setup_, &quickTest_, &printSetup_, &textPrint_, &imagePrint_, &barcode_},
      pageWidgets_{&setup_, &quickTest_, &printSetup_, &textPrint_, &imagePrint_, &barcode_} {
    windowPrompt_ = std::make_unique<QtPrompt>(this);
    for (int i = 0; i < kPageCount; ++i) pagePrompts_[i] = std::make_unique<QtPrompt>(pageWidgets_[i]);
    OnInitDialog();
}

CPelloryDlg::~CPelloryDlg() {
    // Each page leaves the tab control as it is destroyed, and the tab control then selects
    // another tab: the tab-change handler must not run then, since it acts on every page's link
    // and those pages are gone or going.
    QObject::disconnect(tabChanged_);
    tab_.blockSignals(true);
    // From here on no link thread can reach this window; the members then go in reverse order,
    // the pages (and with them their links) from "Barcode Print" back to "COM Setup".
    if (notify_) notify_->Detach();
    SetNotifyTarget(nullptr);
    SetOwnerWindow(nullptr);
    // A print still on its way is written out before its link closes (bounded by the port's
    // progress), as on a tab change: the printer is never left in the middle of a command.
    for (int page = 0; page < kPageCount; ++page) Page(page).CloseLink();
}

void CPelloryDlg::CreateControls() {
    using widgets::PlaceDu;
    using widgets::SetControlId;
    const widgets::DialogUnits du(font());

    // A fixed dialog frame with caption and close box, no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromLatin1(link::kProgramTitle));
    // The start size is the smallest; larger sizes give the history panel more room.
    startSize_ = du.size(462, 215);
    setMinimumSize(startSize_);
    resize(startSize_);

    tab_.tabBar()->setStyle(tabStyle_.get());
    widgets::KeepTabTitlesWhole(tab_.tabBar());
    PlaceDu(&tab_, du, 7, 7, 306, 184);
    PlaceDu(&expand_, du, 262, 194, 50, 14);
    groupPlace_ = du.rect(322, 7, 133, 201);
    listPlace_ = du.rect(327, 20, 119, 165);
    clearPlace_ = du.rect(397, 190, 50, 14);
    savePlace_ = du.rect(327, 190, 50, 14);
    LayoutHistoryPanel();
    // The list lies over the group box, not inside it.
    historyList_.raise();

    SetControlId(&tab_, kIdTabControl, QStringLiteral("tabControl"));
    SetControlId(&expand_, kIdExpandButton, QStringLiteral("expandButton"));
    SetControlId(&historyGroup_, kIdHistoryGroup, QStringLiteral("historyGroup"));
    SetControlId(&historyList_, kIdHistoryList, QStringLiteral("historyList"));
    SetControlId(&clear_, kIdClearButton, QStringLiteral("clearButton"));
    SetControlId(&save_, kIdSaveButton, QStringLiteral("saveButton"));

    // No button is the window's default: Enter presses only the button that has the focus.
    for (QPushButton* b : {&expand_, &clear_, &save_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    connect(&expand_, &QPushButton::clicked, this, [this] { OnExpandShrink(); });
    connect(&clear_, &QPushButton::clicked, this, [this] { OnClear(); });
    connect(&save_, &QPushButton::clicked, this, [this] { OnSave(); });
}

void CPelloryDlg::InitPages() {
    // "COM Setup": its own initialisation, then the "COM" radio button checked.
    setup_.InitSetupPage();
    setup_.CheckComRadio();
    quickTest_.InitTestPage();
    printSetup_.InitPrintSetupPage();
    printSetup_.SetNumberFields(QStringLiteral("33"), QStringLiteral("0"), QStringLiteral("0"));
    // "Text Print": its window receives its link's notifications; received bytes shown as hex.
    textPrint_.MakeSelfNotifyWindow();
    textPrint_.SetReceiveHex(true);
    textPrint_.SetTransmitText(QString::fromLatin1(kTransmitStartText));
    textPrint_.echoSwitch = true;
    imagePrint_.InitImagePage();
    barcode_.InitBarcodePage();
}

void CPelloryDlg::OnInitDialog() {
    CreateControls();

    // The window menu's About entry (the text stands for string 101; no entry when it is empty).
    // Reached by F1 and by the context menu of the window.
    if (!QString::fromLatin1(kAboutMenuText).isEmpty()) {
        about_.setShortcut(QKeySequence(Qt::Key_F1));
        about_.setShortcutContext(Qt::WindowShortcut);
        about_.setData(kIdAboutCommand);
        addAction(&about_);
        connect(&about_, &QAction::triggered, this, [this] { ShowAbout(); });
    }

    // Ctrl+Q ends the window from wherever the focus is, like the close box.
    quit_.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_.setShortcutContext(Qt::WindowShortcut);
    addAction(&quit_);
    connect(&quit_, &QAction::triggered, this, [this] { close(); });

    setWindowIcon(icon_);

    // The six tabs, each with its page, in table order; the first one shown.
    for (int i = 0; i < kPageCount; ++i) {
        tab_.insertTab(i, pageWidgets_[i], QString::fromLatin1(kTabTitles[i]));
    }
    tab_.setCurrentIndex(kPageComSetup);
    widgets::WidenDropDownLists(this);
    tabChanged_ = connect(&tab_, &QTabWidget::currentChanged, this, [this](int i) { OnTabChanged(i); });

    InitPages();

    // The window's own link: never opened, but owned by and notifying this window.
    notify_ = QtNotifyTarget::Create(this, [this](uint32_t m, uintptr_t w, intptr_t l) { OnLinkMessage(m, w, l); });
    SetOwnerWindow(notify_);
    SetNotifyTarget(notify_);

    pages::ReadyFlag = true;

    for (int i = 0; i < kPageCount; ++i) {
        pageLinks_[i]->SetMainWindow(this);
        pageLinks_[i]->SetPrompt(pagePrompts_[i].get());
    }

    OnExpandShrink();  // hides the history panel

    historyList_.SetUpColumns();
}

void CPelloryDlg::AddHistoryRow(const link::EchoRecord& echo) {
    // The list keeps the newest row in sight by itself.
    History().AddHistoryRow(echo);
}

void CPelloryDlg::OnExpandShrink() {
    const int32_t before = expandCounter_++;
    if (before % 2 == 0) {
        // Shrink: the window's right edge moves to the history panel's left edge; its height
        // stays. The full width is remembered at every shrink, so that a window the user made
        // wider comes back as wide.
        fullWidth_ = width();
        const int panelLeft = historyGroup_.mapTo(this, QPoint(0, 0)).x();
        setMinimumWidth(panelLeft);
        setMaximumWidth(panelLeft);
        resize(panelLeft, height());
        expand_.setText(QString::fromLatin1(kExpandText));
        SetHistoryPanelReachable(false);
    } else {
        setMaximumWidth(QWIDGETSIZE_MAX);
        setMinimumWidth(startSize_.width());
        resize(fullWidth_, height());
        expand_.setText(QString::fromLatin1(kShrinkText));
        SetHistoryPanelReachable(true);
    }
}

void CPelloryDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayoutHistoryPanel();
}

void CPelloryDlg::LayoutHistoryPanel() {
    if (!Shrunk()) panelGrowth_ = std::max(0, width() - startSize_.width());
    const int dx = panelGrowth_;
    const int dy = std::max(0, height() - startSize_.height());
    historyGroup_.setGeometry(groupPlace_.adjusted(0, 0, dx, dy));
    historyList_.setGeometry(listPlace_.adjusted(0, 0, dx, dy));
    clear_.setGeometry(clearPlace_.translated(dx, dy));
    save_.setGeometry(savePlace_.translated(0, dy));
}

void CPelloryDlg::SetHistoryPanelReachable(bool reachable) {
    // The panel's controls lie outside a shrunk window: the keyboard must not move to them then.
    QWidget* const controls[] = {&historyList_, &clear_, &save_};
    for (QWidget* w : controls) {
        if (!reachable) {
            if (!w->property("pelloryFocusPolicy").isValid()) w->setProperty("pelloryFocusPolicy", int(w->focusPolicy()));
            if (w->hasFocus()) expand_.setFocus();
            w->setFocusPolicy(Qt::NoFocus);
        } else if (w->property("pelloryFocusPolicy").isValid()) {
            w->setFocusPolicy(static_cast<Qt::FocusPolicy>(w->property("pelloryFocusPolicy").toInt()));
        }
    }
}

void CPelloryDlg::OnClear() { History().Clear(); }

void CPelloryDlg::OnSave() {
    if (link::UserPrompt* prompt = Prompt()) SaveHistoryInteractively(History(), *prompt);
}

void CPelloryDlg::OnTabChanged(int index) {
    if (index < 0 || index >= kPageCount) return;
    // The tab control has shown page index and hidden the others; every page but "COM Setup"
    // lets go of its port, the one just shown included, so that the next action probes again.
    // A page whose printer still takes queued bytes keeps the window busy until they are out.
    bool busy = false;
    for (int i = kPagePrinterTest; i < kPageCount; ++i) {
        if (!busy && pageLinks_[i]->IsOpen() && pageLinks_[i]->SendBuffer().Count() > 0) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            busy = true;
        }
        pageLinks_[i]->CloseLink();
    }
    if (busy) QApplication::restoreOverrideCursor();
}

void CPelloryDlg::ShowAbout() {
    CAboutDlg about(this);
    about.exec();
}

pages::PageLink& CPelloryDlg::Page(int index) { return *pageLinks_.at(static_cast<size_t>(index)); }

QWidget& CPelloryDlg::PageWidget(int index) { return *pageWidgets_.at(static_cast<size_t>(index)); }

link::UserPrompt* CPelloryDlg::Prompt() const { return prompt_ ? prompt_ : windowPrompt_.get(); }

void CPelloryDlg::SetPrompt(link::UserPrompt* prompt) {
    prompt_ = prompt;
    for (int i = 0; i < kPageCount; ++i) {
        pageLinks_[i]->SetPrompt(prompt ? prompt : pagePrompts_[i].get());
    }
}

void CPelloryDlg::OnLinkMessage(uint32_t /*message*/, uintptr_t /*wParam*/, intptr_t /*lParam*/) {}

void CPelloryDlg::RequestClose() {
    // Menus first, then the modal boxes from the top down; each closed one returns to the code
    // that opened it. A box that refuses to close stops the loop rather than spinning on it.
    while (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        if (QApplication::activePopupWidget() == popup) break;
    }
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (modal == this) break;
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();  // a message box without a Cancel button does not take close()
        } else {
            modal->close();
        }
        if (QApplication::activeModalWidget() == modal) break;
    }
    close();
}

void CPelloryDlg::done(int result) {
    textPrint_.StopFileSend();
    QDialog::done(result);
}

void CPelloryDlg::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    QWidget* focus = focusWidget();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // Enter never ends the window. A push button that does not press itself on Enter (the
        // window's own, the pages' sample and action buttons) is pressed here; check boxes and
        // radio buttons are not.
        const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
        auto* button = qobject_cast<QAbstractButton*>(focus);
        if (button && mods == Qt::NoModifier && button->isEnabled() && !qobject_cast<QCheckBox*>(button) &&
            !qobject_cast<QRadioButton*>(button)) {
            button->click();
        }
        event->accept();
        return;
    }
    if (key == Qt::Key_Escape && IsTextField(focus, this)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);  // Escape rejects
}

void CPelloryDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (!actions().contains(&about_)) {
        event->ignore();
        return;
    }
    QMenu menu(this);
    menu.addAction(&about_);
    menu.exec(event->globalPos());
}

}  // namespace pellory::app
