#include "app/virtual_printer_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "link/port_settings.h"
#include "receipt/paper_image.h"

namespace pellory::app {

namespace {
constexpr int kTakeIntervalMs = 50;
constexpr int kRoomWaitStepMs = 20;  // a waiting printer looks at its stop flag this often
}

VirtualPrinterWindow::VirtualPrinterWindow(vprinter::VirtualPrinter& printer, QWidget* parent)
    : QWidget(parent, Qt::Window), printer_(printer), interpreter_(paperWidth()) {
    setWindowTitle(QString::fromLatin1(kVirtualPrinterTitle));
    auto* layout = new QVBoxLayout(this);

    auto* buttons = new QHBoxLayout;
    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    auto* save = new QPushButton(QStringLiteral("Save..."), this);
    fit_ = new QCheckBox(QStringLiteral("Fit to window"), this);
    buttons->addWidget(clear);
    buttons->addWidget(save);
    buttons->addWidget(fit_);
    buttons->addStretch();
    layout->addLayout(buttons);

    auto* boxes = new QGridLayout;
    for (size_t i = 0; i < kStatusBoxes.size(); ++i) {
        status_[i] = new QCheckBox(QString::fromLatin1(kStatusBoxes[i].caption), this);
        if (kStatusBoxes[i].bit == 0x40) status_[i]->setChecked(true);
        boxes->addWidget(status_[i], static_cast<int>(i / 3), static_cast<int>(i % 3));
        connect(status_[i], &QCheckBox::toggled, this, [this] { applyStatus(); });
    }
    silent_ = new QCheckBox(QStringLiteral("Silent"), this);
    boxes->addWidget(silent_, 2, 0);
    connect(silent_, &QCheckBox::toggled, this, [this] { applyStatus(); });
    layout->addLayout(boxes);

    scroll_ = new QScrollArea(this);
    scroll_->setBackgroundRole(QPalette::Dark);
    view_ = new widgets::PaperView;
    view_->setPaper(&interpreter_.paper());
    scroll_->setWidget(view_);
    scroll_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    layout->addWidget(scroll_, 1);

    connect(clear, &QPushButton::clicked, this, [this] { clearPaper(); });
    connect(save, &QPushButton::clicked, this, [this] { savePaper(); });
    connect(fit_, &QCheckBox::toggled, this, [this] { applyFit(); });

    printer_.setObserver([this](const uint8_t* bytes, size_t n) {
        std::unique_lock<std::mutex> lock(arrivedMutex_);
        // A full buffer: the printer waits for the window thread to take what came, in steps
        // that end as soon as the window closes or the printer stops.
        while (arrived_.size() >= kArrivedLimit && !closing_ && !printer_.stopping()) {
            arrivedRoom_.wait_for(lock, std::chrono::milliseconds(kRoomWaitStepMs));
        }
        // Grown as needed, but never far past the limit.
        const size_t need = arrived_.size() + n;
        if (need > arrived_.capacity()) {
            arrived_.reserve(std::max(need, std::min(2 * arrived_.capacity(), kArrivedLimit)));
        }
        arrived_.insert(arrived_.end(), bytes, bytes + n);
    });
    connect(&timer_, &QTimer::timeout, this, [this] { takeArrived(); });
    timer_.start(kTakeIntervalMs);
    resize(460, 640);
}

VirtualPrinterWindow::~VirtualPrinterWindow() {
    {
        std::lock_guard<std::mutex> lock(arrivedMutex_);
        closing_ = true;
    }
    arrivedRoom_.notify_all();
    printer_.setObserver(nullptr);  // waits for a call in progress, which no longer waits for room
}

int VirtualPrinterWindow::paperWidth() const {
    return link::PrintableWidth > receipt::kOrva58Dots ? receipt::kOrva80Dots : receipt::kOrva58Dots;
}

bool VirtualPrinterWindow::takeArrived() {
    std::vector<uint8_t> bytes;
    {
        std::lock_guard<std::mutex> lock(arrivedMutex_);
        bytes.swap(arrived_);
    }
    arrivedRoom_.notify_all();
    bool changed = false;
    if (paperWidth() != interpreter_.paper().width()) {
        interpreter_.setWidth(paperWidth());
        changed = true;
    }
    if (!bytes.empty()) {
        interpreter_.feed(bytes);
        changed = true;
    }
    if (!changed) return false;
    view_->paperChanged();
    applyFit();
    // Scrolled to the newest line.
    scroll_->verticalScrollBar()->setValue(scroll_->verticalScrollBar()->maximum());
    return true;
}

void VirtualPrinterWindow::clearPaper() {
    interpreter_.clearPaper();
    view_->paperChanged();
}

bool VirtualPrinterWindow::savePaper() {
    if (!prompt_) return false;
    const std::optional<std::string> path = prompt_->AskSaveFile(kPaperFileFilter);
    if (!path) return false;
    std::string error;
    if (receipt::SavePaper(interpreter_.paper(), *path, &error)) return true;
    prompt_->ShowMessage("The paper could not be saved.", "", error);
    return false;
}

QCheckBox* VirtualPrinterWindow::statusBox(const char* caption) const {
    for (size_t i = 0; i < kStatusBoxes.size(); ++i) {
        if (std::string_view(kStatusBoxes[i].caption) == caption) return status_[i];
    }
    return nullptr;
}

void VirtualPrinterWindow::applyStatus() {
    uint8_t status = 0;
    for (size_t i = 0; i < kStatusBoxes.size(); ++i) {
        const bool checked = status_[i]->isChecked();
        // "Online" sets its bit when unchecked; the fault boxes when checked.
        if (kStatusBoxes[i].bit == 0x40 ? !checked : checked) status |= kStatusBoxes[i].bit;
    }
    printer_.setStatusByte(status);
    printer_.setAnswerMode(silent_->isChecked() ? vprinter::VirtualPrinter::AnswerMode::Silent
                                                : vprinter::VirtualPrinter::AnswerMode::Status);
}

void VirtualPrinterWindow::applyFit() {
    const int width = scroll_->viewport()->width();
    if (view_->fitted() != fit_->isChecked() || fit_->isChecked()) view_->setFitted(fit_->isChecked(), width);
}

void VirtualPrinterWindow::closeEvent(QCloseEvent* event) {
    hide();  // the printer keeps running and printing; the paper keeps growing
    event->ignore();
}

void VirtualPrinterWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    applyFit();
}

}  // namespace pellory::app
