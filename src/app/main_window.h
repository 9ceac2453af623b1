// CPelloryDlg: the main window. A tab control with the six tab pages, the Expand/Shrink button
// that hides or shows the command-history panel, and the panel itself. The window is a link
// (CORVA_LIB) like the pages, though its own port is never opened, and it is where the pages
// hand their echo text (HistorySink).
#pragma once

#include <QAction>
#include <QDialog>
#include <QGroupBox>
#include <QIcon>
#include <QProxyStyle>
#include <QPushButton>
#include <QRect>
#include <QSize>
#include <QTabWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/history_view.h"
#include "app/qt_notify.h"
#include "app/qt_prompt.h"
#include "history/history_model.h"
#include "link/orva_lib.h"
#include "link/ui_seam.h"
#include "pages/barcode_page.h"
#include "pages/image_print_page.h"
#include "pages/print_setup_page.h"
#include "pages/quick_test_page.h"
#include "pages/setup_page.h"
#include "pages/text_print_page.h"

namespace pellory::app {

// Control ids of the main window.
inline constexpr int kIdTabControl = 1000;
inline constexpr int kIdExpandButton = 1048;
inline constexpr int kIdHistoryGroup = 1059;
inline constexpr int kIdHistoryList = 1060;
inline constexpr int kIdClearButton = 1061;
inline constexpr int kIdSaveButton = 1062;

// The About entry of the window menu: its command id and its text (string 101).
inline constexpr int kIdAboutCommand = 0x10;
inline constexpr const char* kAboutMenuText = "&About Pellory...";

inline constexpr const char* kExpandText = ">> Expand";
inline constexpr const char* kShrinkText = "<< Shrink";
inline constexpr const char* kHistoryGroupText = "Command History";
inline constexpr const char* kTransmitStartText = "Input print data here and press 'Print' button";

// Page indices, in tab order.
enum PageIndex : int {
    kPageComSetup = 0,
    kPagePrinterTest = 1,
    kPagePrintSetup = 2,
    kPageTextPrint = 3,
    kPageImagePrint = 4,
    kPageBarcodePrint = 5,
    kPageCount = 6,
};

// The tab titles, in tab order.
inline constexpr std::array<const char*, kPageCount> kTabTitles = {
    "COM Setup", "Printer Test", "Print Setup", "Text Print", "Image Print", "Barcode Print"};

class CPelloryDlg : public QDialog, public link::CORVA_LIB, public link::HistorySink {
public:
    // Builds the window and runs its whole start-up: pages created and initialised, the ready
    // flag set, every page given this window and the message seam, the window shrunk so that
    // the history panel is hidden, the history list set up.
    explicit CPelloryDlg(QWidget* parent = nullptr);
    // Marks the window's notification target dead and lets go of the tab control's signals,
    // then destroys the controls and pages in reverse order (each page's link closes with it).
    // No page code runs on a page that is being destroyed.
    ~CPelloryDlg() override;
    CPelloryDlg(const CPelloryDlg&) = delete;
    CPelloryDlg& operator=(const CPelloryDlg&) = delete;

    // link::HistorySink: adds one ticked row to the history; an empty text adds nothing.
    void AddHistoryRow(const link::EchoRecord& echo) override;

    // --- the window's commands ---
    // Expand/Shrink button: an even counter shrinks the window to the history panel's left
    // edge (remembering the full width it had), an odd one restores that full width.
    // Expanded, the window can be made larger than its start size (never smaller): the tab
    // control, its pages and the Expand/Shrink button keep their places and sizes, the history
    // panel takes the room. Shrunk, its width stays at the panel's left edge. Nothing of the
    // size is kept after the window closes.
    void OnExpandShrink();
    // Whether Tab can reach the history panel's controls (not while the window is shrunk).
    void SetHistoryPanelReachable(bool reachable);
    // Clear button: removes every history row.
    void OnClear();
    // Save... button: "No Data" when empty, else a save dialog and the ticked rows' hex text.
    void OnSave();
    // Tab selection change: page i shown, then the links of pages 1..5 closed.
    void OnTabChanged(int index);
    // The About box, modally.
    void ShowAbout();
    // Ends the window as the close box does, also while a message box, file dialog or menu is
    // open over it: those are cancelled first, so that the code that opened them returns.
    void RequestClose();

    // --- parts, for the program and its tests ---
    pages::PageLink& Page(int index);
    QWidget& PageWidget(int index);
    pages::CDialogSetup& SetupPage() { return setup_; }
    pages::CDialogQuickTest& QuickTestPage() { return quickTest_; }
    pages::CDialogPSetup& PrintSetupPage() { return printSetup_; }
    pages::CDialogTprint& TextPrintPage() { return textPrint_; }
    pages::CDialogPPrint& ImagePrintPage() { return imagePrint_; }
    pages::CDiglogBarcode& BarcodePage() { return barcode_; }
    QTabWidget& TabControl() { return tab_; }
    QPushButton& ExpandButton() { return expand_; }
    QGroupBox& HistoryGroup() { return historyGroup_; }
    HistoryView& HistoryList() { return historyList_; }
    HistoryModel& History() { return historyList_.Model(); }
    QPushButton& ClearButton() { return clear_; }
    QPushButton& SaveButton() { return save_; }
    QAction& AboutAction() { return about_; }
    QAction& QuitAction() { return quit_; }
    int ExpandCounter() const { return expandCounter_; }
    bool Shrunk() const { return expandCounter_ % 2 == 1; }
    // The window's size at start, expanded: its smallest size.
    QSize StartSize() const { return startSize_; }
    int FullWidth() const { return fullWidth_; }
    const std::shared_ptr<QtNotifyTarget>& NotifyWindow() const { return notify_; }

    // The message seam of the window and its pages. By default each page shows its boxes over
    // itself and the window over the window; SetPrompt gives one seam to all of them (a
    // scripted one in tests), null goes back to the Qt dialogs.
    link::UserPrompt* Prompt() const;
    void SetPrompt(link::UserPrompt* prompt);
    // Ending the dialog (close box, Escape, Ctrl+Q, a closing signal) also ends a file send of
    // "Text Print" in progress: nothing more is queued, and what is queued goes out as the links
    // close.
    void done(int result) override;

protected:
    // Messages of the window's own link (its port is never opened, so none arrive in practice).
    virtual void OnLinkMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);

    // Enter never ends the window: on a focused push button it presses the button, elsewhere
    // it does nothing. Escape ends the window, except while a text field has the focus (a
    // field's typed text and the history must not go with a reflex). The close box, Alt+F4
    // and Ctrl+Q end it always.
    void keyPressEvent(QKeyEvent* event) override;
    // The window menu with the About entry.
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnInitDialog();
    void CreateControls();
    void InitPages();
    // Places the history panel's controls for the window's present size: the group box and
    // the list grow with it, "Save..." stays at the panel's lower left, "Clear" at its lower
    // right. While the window is shrunk the panel keeps the width it had.
    void LayoutHistoryPanel();

    // Members in the order they are built; they go in reverse.
    QIcon icon_;
    // Declared before the pages, which keep pointers to them.
    std::unique_ptr<QtPrompt> windowPrompt_;
    std::array<std::unique_ptr<QtPrompt>, kPageCount> pagePrompts_;
    link::UserPrompt* prompt_ = nullptr;  // set by SetPrompt; null = the Qt prompts
    std::unique_ptr<QProxyStyle> tabStyle_;  // narrower tabs, so that all six titles fit, never cut
    QTabWidget tab_;
    pages::CDialogSetup setup_;
    pages::CDialogQuickTest quickTest_;
    pages::CDialogPSetup printSetup_;
    pages::CDialogTprint textPrint_;
    pages::CDialogPPrint imagePrint_;
    pages::CDiglogBarcode barcode_;
    QPushButton expand_;
    QGroupBox historyGroup_;
    HistoryView historyList_;
    QPushButton clear_;
    QPushButton save_;
    QAction about_;
    QAction quit_;  // Ctrl+Q
    QMetaObject::Connection tabChanged_;
    std::array<pages::PageLink*, kPageCount> pageLinks_;
    std::array<QWidget*, kPageCount> pageWidgets_;
    std::shared_ptr<QtNotifyTarget> notify_;
    // The Expand/Shrink counter and the full width of the window (its client area, in pixels),
    // remembered at the first shrink.
    int32_t expandCounter_ = 0;
    int32_t fullWidth_ = 0;
    // The start size and the places of the history panel's controls at that size.
    QSize startSize_;
    QRect groupPlace_, listPlace_, clearPlace_, savePlace_;
    int panelGrowth_ = 0;  // how much wider than at start the panel is
};

}  // namespace pellory::app
