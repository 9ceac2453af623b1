// The "Virtual Printer" window: the paper of the virtual printer as it prints, with "Clear",
// "Save..." (PNG, or PDF at the real paper size), a check box for each status bit that the
// "Printer Test" lamps read, and "Silent" (the printer stops answering). Its own top-level
// window; closing it hides it and keeps the printer running.
//
// The printer's reader thread hands each piece of bytes over under a lock; a timer on the window
// thread feeds them to the interpreter and repaints only when the paper changed. What waits to be
// taken is bounded (kArrivedLimit): beyond it the printer reads nothing more until the window
// thread has taken it, as a printer whose buffer is full. The paper width follows the device
// chosen on "COM Setup" (the printable width).
#pragma once

#include <QCheckBox>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>
#include <array>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "app/paper_view.h"
#include "link/ui_seam.h"
#include "receipt/interpreter.h"
#include "vprinter/virtual_printer.h"

namespace pellory::app {

inline constexpr const char* kVirtualPrinterTitle = "Virtual Printer";
inline constexpr const char* kPaperFileFilter = "PNG files(*.png)|*.png|PDF files(*.pdf)|*.pdf||";

class VirtualPrinterWindow : public QWidget {
public:
    // A status check box: its caption (the lamp's) and the status bit it sets.
    struct StatusBox {
        const char* caption;
        uint8_t bit;
    };
    // "Online" is checked while the printer is on line; unchecked, it sets bit 0x40, which no lamp
    // shows, so every lamp goes dark.
    static constexpr std::array<StatusBox, 6> kStatusBoxes = {{{"Over Heat", 0x08},
                                                               {"Over Voltage", 0x01},
                                                               {"Online", 0x40},
                                                               {"Paper Error", 0x04},
                                                               {"Platen Open", 0x02},
                                                               {"Cutter Error", 0x20}}};

    // At most this many bytes wait for the window thread (and one piece of the printer's more).
    static constexpr size_t kArrivedLimit = 4u << 20;

    explicit VirtualPrinterWindow(vprinter::VirtualPrinter& printer, QWidget* parent = nullptr);
    ~VirtualPrinterWindow() override;

    void setPrompt(link::UserPrompt* prompt) { prompt_ = prompt; }
    // Feeds what arrived since the last call (the timer calls it); true when the paper changed.
    bool takeArrived();
    void clearPaper();
    bool savePaper();
    const receipt::Interpreter& interpreter() const { return interpreter_; }
    QCheckBox* statusBox(const char* caption) const;
    QCheckBox* silentBox() const { return silent_; }
    QCheckBox* fitBox() const { return fit_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyStatus();
    void applyFit();
    int paperWidth() const;

    vprinter::VirtualPrinter& printer_;
    receipt::Interpreter interpreter_;
    link::UserPrompt* prompt_ = nullptr;
    std::mutex arrivedMutex_;
    std::condition_variable arrivedRoom_;  // arrived_ was taken, or the window closes
    std::vector<uint8_t> arrived_;  // guarded by arrivedMutex_
    bool closing_ = false;          // guarded by arrivedMutex_
    QScrollArea* scroll_ = nullptr;
    widgets::PaperView* view_ = nullptr;
    QCheckBox* fit_ = nullptr;
    QCheckBox* silent_ = nullptr;
    std::array<QCheckBox*, kStatusBoxes.size()> status_{};
    QTimer timer_;
};

}  // namespace pellory::app
