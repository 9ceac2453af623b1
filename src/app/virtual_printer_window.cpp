#include "app/virtual_printer_window.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "pages/core/setup_actions.h"
#include "protocol/model_profile.h"
#include "receipt/paper_image.h"
#include "widgets/dialog_layout.h"

namespace pellory::app {

namespace {
constexpr int kTakeIntervalMs = 50;
constexpr int kRoomWaitStepMs = 20;  // a waiting printer looks at its stop flag this often
// The job list, in dialog units of the window's font.
constexpr int kSourceColumnDu = 100;
constexpr int kTimeColumnDu = 40;
constexpr int kJobListHeightDu = 56;

// A job row's tooltip: "Job 3, received 2026-12-07T21:20:56, closed", and what was kept of a
// job over the limit.
QString JobTip(const ListedJob& job, const QDateTime& ended) {
    QString tip = QStringLiteral("Job %1, received %2, ").arg(job.number).arg(ended.toString(Qt::ISODate));
    tip += QString::fromStdString(job.ended);
    if (job.bytes < job.received) tip += QStringLiteral(" (the first %1 bytes kept)").arg(job.bytes);
    return tip;
}

}  // namespace

VirtualPrinterWindow::VirtualPrinterWindow(vprinter::VirtualPrinter& printer, QWidget* parent)
    : QWidget(parent, Qt::Window), printer_(&printer), interpreter_(paperWidth()) {
    build();
}

VirtualPrinterWindow::VirtualPrinterWindow(WindowServer& server, QWidget* parent)
    : QWidget(parent, Qt::Window), server_(&server), interpreter_(paperWidth()) {
    build();
}

void VirtualPrinterWindow::build() {
    setWindowTitle(QString::fromLatin1(kVirtualPrinterTitle));
    const widgets::DialogUnits du(font());
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
    if (server_) {
        for (size_t i = 0; i < kServerBoxes.size(); ++i) {
            serverStatus_[i] = new QCheckBox(QString::fromLatin1(kServerBoxes[i].caption), this);
            boxes->addWidget(serverStatus_[i], 2, static_cast<int>(i + 1));
            connect(serverStatus_[i], &QCheckBox::toggled, this, [this] { applyStatus(); });
        }
        showStates(server_->Server().states());
    }
    layout->addLayout(boxes);

    scroll_ = new QScrollArea(this);
    scroll_->setBackgroundRole(QPalette::Dark);
    view_ = new widgets::PaperView;
    view_->setPaper(&interpreter_.paper());
    scroll_->setWidget(view_);
    scroll_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    if (server_) {
        jobs_ = new QTreeWidget(this);
        jobs_->setObjectName(QStringLiteral("jobList"));
        jobs_->setColumnCount(kJobColumns);
        jobs_->setHeaderLabels({QStringLiteral("Source"), QStringLiteral("Time"), QStringLiteral("Bytes")});
        jobs_->setRootIsDecorated(false);
        jobs_->setSelectionMode(QAbstractItemView::SingleSelection);
        jobs_->setColumnWidth(kSourceColumn, du.x(kSourceColumnDu));
        jobs_->setColumnWidth(kTimeColumn, du.x(kTimeColumnDu));
        jobs_->setMinimumHeight(du.y(kJobListHeightDu));
        auto* live = new QTreeWidgetItem(jobs_, QStringList{QString::fromLatin1(kLivePaperRow)});
        live->setData(kSourceColumn, Qt::UserRole, QVariant::fromValue<qulonglong>(0));
        jobs_->setCurrentItem(live);
        connect(jobs_, &QTreeWidget::currentItemChanged, this, [this] { showSelectedJob(); });
        auto* split = new QSplitter(Qt::Vertical, this);
        split->addWidget(jobs_);
        split->addWidget(scroll_);
        split->setStretchFactor(1, 1);
        split->setSizes({du.y(kJobListHeightDu), du.y(kJobListHeightDu) * 4});  // the paper takes the most
        layout->addWidget(split, 1);
    } else {
        layout->addWidget(scroll_, 1);
    }

    connect(clear, &QPushButton::clicked, this, [this] { clearPaper(); });
    connect(save, &QPushButton::clicked, this, [this] { savePaper(); });
    connect(fit_, &QCheckBox::toggled, this, [this] { applyFit(); });

    if (server_) {
        server_->SetPrintObserver([this](const uint8_t* bytes, size_t n) { arrive(bytes, n); });
    } else {
        printer_->setObserver([this](const uint8_t* bytes, size_t n) { arrive(bytes, n); });
    }
    connect(&timer_, &QTimer::timeout, this, [this] {
        takeArrived();
        if (!server_) return;
        takeJobs();
        // The hosts change states too (a drawer pulse, a recovery): the boxes follow.
        const vprinter::States now = server_->Server().states();
        if (now != boxStates()) showStates(now);
    });
    timer_.start(kTakeIntervalMs);
    resize(460, 640);
}

void VirtualPrinterWindow::arrive(const uint8_t* bytes, size_t n) {
    platform::MutexLock lock(arrivedMutex_);
    // A full buffer: the printer waits for the window thread to take what came, in steps
    // that end as soon as the window closes or the printer stops.
    while (arrived_.size() >= kArrivedLimit && !closing_ && !printerStopping()) {
        arrivedRoom_.wait_for(lock.native(), std::chrono::milliseconds(kRoomWaitStepMs));
    }
    // Grown as needed, but never far past the limit.
    const size_t need = arrived_.size() + n;
    if (need > arrived_.capacity()) {
        arrived_.reserve(std::max(need, std::min(2 * arrived_.capacity(), kArrivedLimit)));
    }
    arrived_.insert(arrived_.end(), bytes, bytes + n);
}

bool VirtualPrinterWindow::printerStopping() const { return server_ ? server_->Stopping() : printer_->stopping(); }

VirtualPrinterWindow::~VirtualPrinterWindow() {
    {
        platform::MutexLock lock(arrivedMutex_);
        closing_ = true;
    }
    arrivedRoom_.notify_all();
    // Waits for a call in progress, which no longer waits for room.
    if (server_) {
        server_->SetPrintObserver(nullptr);
    } else {
        printer_->setObserver(nullptr);
    }
}

vprinter::Model DeviceModel() { return pages::ChosenModel(); }

int VirtualPrinterWindow::paperWidth() const { return protocol::ProfileOf(DeviceModel()).paperDots; }

bool VirtualPrinterWindow::takeArrived() {
    std::vector<uint8_t> bytes;
    {
        platform::MutexLock lock(arrivedMutex_);
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
    if (!changed || shownJob_ != 0) return changed;  // a job's paper is in view
    view_->paperChanged();
    applyFit();
    // Scrolled to the newest line.
    scroll_->verticalScrollBar()->setValue(scroll_->verticalScrollBar()->maximum());
    return true;
}

void VirtualPrinterWindow::clearPaper() {
    interpreter_.clearPaper();
    if (jobs_ && shownJob_ != 0) {
        jobs_->setCurrentItem(jobs_->topLevelItem(0));  // the live paper, now empty
        return;
    }
    view_->paperChanged();
}

const receipt::Paper& VirtualPrinterWindow::shownPaper() const {
    return jobPaper_ ? jobPaper_->paper() : interpreter_.paper();
}

bool VirtualPrinterWindow::savePaper() {
    if (!prompt_) return false;
    const std::optional<std::string> path = prompt_->AskSaveFile(kPaperFileFilter);
    if (!path) return false;
    std::string error;
    if (receipt::SavePaper(shownPaper(), *path, &error)) return true;
    prompt_->ShowMessage("The paper could not be saved.", "", error);
    return false;
}

QCheckBox* VirtualPrinterWindow::statusBox(const char* caption) const {
    for (size_t i = 0; i < kStatusBoxes.size(); ++i) {
        if (std::string_view(kStatusBoxes[i].caption) == caption) return status_[i];
    }
    for (size_t i = 0; i < kServerBoxes.size(); ++i) {
        if (std::string_view(kServerBoxes[i].caption) == caption) return serverStatus_[i];
    }
    return nullptr;
}

uint8_t VirtualPrinterWindow::boxStatusByte() const {
    uint8_t status = 0;
    for (size_t i = 0; i < kStatusBoxes.size(); ++i) {
        const bool checked = status_[i]->isChecked();
        // "Online" sets its bit when unchecked; the fault boxes when checked.
        if (kStatusBoxes[i].bit == 0x40 ? !checked : checked) status |= kStatusBoxes[i].bit;
    }
    return status;
}

vprinter::States VirtualPrinterWindow::boxStates() const {
    vprinter::States s = vprinter::StatesOfPelloryStatusByte(boxStatusByte());
    for (size_t i = 0; i < kServerBoxes.size(); ++i) {
        if (serverStatus_[i] && serverStatus_[i]->isChecked()) s |= kServerBoxes[i].state;
    }
    if (silent_->isChecked()) s |= vprinter::kSilent;
    return s;
}

void VirtualPrinterWindow::applyStatus() {
    if (server_) {
        server_->Server().setStates(boxStates());
        return;
    }
    printer_->setStatusByte(boxStatusByte());
    printer_->setAnswerMode(silent_->isChecked() ? vprinter::VirtualPrinter::AnswerMode::Silent
                                                 : vprinter::VirtualPrinter::AnswerMode::Status);
}

void VirtualPrinterWindow::showStates(vprinter::States s) {
    const uint8_t byte = vprinter::PelloryStatusByte(s);
    auto show = [](QCheckBox* box, bool checked) {
        const QSignalBlocker quiet(box);  // shown as it is, not set again
        box->setChecked(checked);
    };
    for (size_t i = 0; i < kStatusBoxes.size(); ++i) {
        const bool on = (byte & kStatusBoxes[i].bit) != 0;
        show(status_[i], kStatusBoxes[i].bit == 0x40 ? !on : on);
    }
    for (size_t i = 0; i < kServerBoxes.size(); ++i) {
        if (serverStatus_[i]) show(serverStatus_[i], (s & kServerBoxes[i].state) != 0);
    }
    show(silent_, (s & vprinter::kSilent) != 0);
}

bool VirtualPrinterWindow::takeJobs() {
    if (!server_) return false;
    const uint64_t taken = server_->JobsTaken();
    if (taken == jobsSeen_) return false;
    jobsSeen_ = taken;
    listed_ = server_->Jobs();
    const QSignalBlocker quiet(jobs_);  // the shown paper stays as it is while the rows change
    while (jobs_->topLevelItemCount() > 1) delete jobs_->takeTopLevelItem(1);
    QTreeWidgetItem* current = shownJob_ == 0 ? jobs_->topLevelItem(0) : nullptr;
    for (const std::shared_ptr<const ListedJob>& job : listed_) {
        const QDateTime ended =
            QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::chrono::system_clock::to_time_t(job->endedAt)));
        auto* item = new QTreeWidgetItem(
            jobs_, QStringList{QString::fromStdString(job->source), ended.toString(QStringLiteral("HH:mm:ss")),
                               QString::number(job->received)});
        item->setData(kSourceColumn, Qt::UserRole, QVariant::fromValue<qulonglong>(job->number));
        item->setTextAlignment(kBytesColumn, Qt::AlignRight | Qt::AlignVCenter);
        const QString tip = JobTip(*job, ended);
        for (int c = 0; c < kJobColumns; ++c) item->setToolTip(c, tip);
        if (job->number == shownJob_) current = item;
    }
    if (current) {
        jobs_->setCurrentItem(current);
    } else {
        // The job shown has left the list (the newest are kept): the live paper again.
        jobs_->setCurrentItem(jobs_->topLevelItem(0));
        showSelectedJob();
    }
    return true;
}

void VirtualPrinterWindow::showSelectedJob() {
    const QTreeWidgetItem* item = jobs_ ? jobs_->currentItem() : nullptr;
    const uint64_t number = item ? item->data(kSourceColumn, Qt::UserRole).toULongLong() : 0;
    const auto found =
        std::find_if(listed_.begin(), listed_.end(),
                     [number](const std::shared_ptr<const ListedJob>& j) { return j->number == number; });
    if (number == 0 || found == listed_.end()) {
        shownJob_ = 0;
        jobPaper_.reset();
        view_->setPaper(&interpreter_.paper());
        view_->paperChanged();
        applyFit();
        scroll_->verticalScrollBar()->setValue(scroll_->verticalScrollBar()->maximum());
        return;
    }
    shownJob_ = number;
    jobPaper_ = std::make_unique<receipt::Interpreter>(paperWidth());
    if ((*found)->kept) jobPaper_->feed(*(*found)->kept);
    view_->setPaper(&jobPaper_->paper());
    view_->paperChanged();
    applyFit();
    scroll_->verticalScrollBar()->setValue(0);
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
