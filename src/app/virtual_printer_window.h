// The "Virtual Printer" window: the paper of the virtual printer as it prints, with "Clear",
// "Save..." (PNG, or PDF at the real paper size), a check box for each status bit that the
// "Printer Test" lamps read, and "Silent" (the printer stops answering). Its own top-level
// window; closing it hides it and keeps the printer running.
//
// The printer's thread hands each piece of bytes over under a lock; a timer on the window
// thread feeds them to the interpreter and repaints only when the paper changed. What waits to be
// taken is bounded (kArrivedLimit): beyond it the printer reads nothing more until the window
// thread has taken it, as a printer whose buffer is full. The paper width follows the device
// chosen on "COM Setup" (the printable width).
//
// Over a printer server (WindowServer) the boxes are the server's states: the six above, read as
// the states behind their status bits, "Paper Near End" and "Drawer Open" besides, and "Silent";
// they follow what the hosts change (a drawer pulse checks "Drawer Open"). A list shows the jobs
// the server received, newest first (source, time, bytes), under a first row "Live paper";
// selecting a job shows its paper, drawn from its bytes as the live paper is (at most the server's
// maxJobBytes).
#pragma once

#include <QCheckBox>
#include <QScrollArea>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "app/paper_view.h"
#include "app/window_server.h"
#include "link/ui_seam.h"
#include "platform/thread_annotations.h"
#include "receipt/interpreter.h"
#include "vprinter/printer_state.h"
#include "vprinter/virtual_printer.h"

namespace pellory::app {

inline constexpr const char* kVirtualPrinterTitle = "Virtual Printer";
inline constexpr const char* kPaperFileFilter = "PNG files(*.png)|*.png|PDF files(*.pdf)|*.pdf||";
inline constexpr const char* kLivePaperRow = "Live paper";

// The model of the device chosen on "COM Setup" (its printable width): the width of the paper.
vprinter::Model DeviceModel();

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

    // The states a printer server has besides those behind the six boxes' bits.
    struct StateBox {
        const char* caption;
        vprinter::StateBit state;
    };
    static constexpr std::array<StateBox, 2> kServerBoxes = {
        {{"Paper Near End", vprinter::kPaperNearEnd}, {"Drawer Open", vprinter::kDrawerOpen}}};

    // The job list's columns.
    enum JobColumn { kSourceColumn, kTimeColumn, kBytesColumn, kJobColumns };

    // At most this many bytes wait for the window thread (and one piece of the printer's more).
    static constexpr size_t kArrivedLimit = 4u << 20;

    explicit VirtualPrinterWindow(vprinter::VirtualPrinter& printer, QWidget* parent = nullptr);
    explicit VirtualPrinterWindow(WindowServer& server, QWidget* parent = nullptr);
    ~VirtualPrinterWindow() override;

    void setPrompt(link::UserPrompt* prompt) { prompt_ = prompt; }
    // Feeds what arrived since the last call (the timer calls it); true when the paper changed.
    bool takeArrived();
    void clearPaper();
    bool savePaper();
    const receipt::Interpreter& interpreter() const { return interpreter_; }
    // The six boxes, and over a printer server kServerBoxes too; null for another caption.
    QCheckBox* statusBox(const char* caption) const;
    QCheckBox* silentBox() const { return silent_; }
    QCheckBox* fitBox() const { return fit_; }

    // Over a printer server: the job list (null otherwise), which the timer brings up to date
    // with takeJobs() (true when it changed); the job whose paper is shown (0: the live paper),
    // and that paper.
    QTreeWidget* jobList() const { return jobs_; }
    bool takeJobs();
    uint64_t shownJob() const { return shownJob_; }
    const receipt::Paper& shownPaper() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void build();
    void arrive(const uint8_t* bytes, size_t n);
    bool printerStopping() const;
    // The status byte of the six boxes; the states of every box (over a printer server).
    uint8_t boxStatusByte() const;
    vprinter::States boxStates() const;
    void applyStatus();
    // Checks the boxes as the states are, without setting them again.
    void showStates(vprinter::States s);
    void showSelectedJob();
    void applyFit();
    int paperWidth() const;

    vprinter::VirtualPrinter* printer_ = nullptr;  // one of these two
    WindowServer* server_ = nullptr;
    receipt::Interpreter interpreter_;
    link::UserPrompt* prompt_ = nullptr;
    platform::Mutex arrivedMutex_;
    std::condition_variable arrivedRoom_;  // arrived_ was taken, or the window closes
    std::vector<uint8_t> arrived_ GUARDED_BY(arrivedMutex_);
    bool closing_ GUARDED_BY(arrivedMutex_) = false;
    QScrollArea* scroll_ = nullptr;
    widgets::PaperView* view_ = nullptr;
    QCheckBox* fit_ = nullptr;
    QCheckBox* silent_ = nullptr;
    std::array<QCheckBox*, kStatusBoxes.size()> status_{};
    std::array<QCheckBox*, kServerBoxes.size()> serverStatus_{};
    QTimer timer_;
    // Over a printer server.
    QTreeWidget* jobs_ = nullptr;
    uint64_t jobsSeen_ = 0;                                 // WindowServer::JobsTaken() when listed
    std::vector<std::shared_ptr<const ListedJob>> listed_;  // the list's jobs, newest first
    uint64_t shownJob_ = 0;
    std::unique_ptr<receipt::Interpreter> jobPaper_;  // the shown job's paper
};

}  // namespace pellory::app
