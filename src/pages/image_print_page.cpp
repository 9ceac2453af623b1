#include "pages/image_print_page.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QSignalBlocker>

#include "imaging/dot_preview.h"
#include "widgets/dialog_layout.h"

namespace pellory::pages {

namespace {

using widgets::DialogUnits;
using widgets::MakeGroupDu;
using widgets::MakeLabelDu;
using widgets::PlaceDu;
using widgets::SetControlId;

QPushButton* MakeButton(QWidget* parent, const DialogUnits& du, int id, const char* name, const char* text, int x,
                        int y, int w, int h) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    SetControlId(button, id, QString::fromLatin1(name));
    PlaceDu(button, du, x, y, w, h);
    return button;
}

const QColor kFrameGrey(0x80, 0x80, 0x80);

}  // namespace

// --- preview box ---

PreviewBox::PreviewBox(QWidget* parent) : QWidget(parent) {}

void PreviewBox::SetPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void PreviewBox::SetDots(const QImage& dots) {
    dots_ = dots;
    update();
}

QRect PreviewBox::PictureArea() const { return rect().adjusted(1, 1, -1, -1); }

QRect PreviewBox::PictureRect() const {
    const QRect area = PictureArea();
    if (dots_.isNull()) return area;
    return QRect(area.left(), area.top(), area.width() / 2, area.height());
}

QRect PreviewBox::DotsRect() const {
    if (dots_.isNull()) return QRect();
    const QRect area = PictureArea();
    const int left = area.width() / 2;
    return QRect(area.left() + left, area.top(), area.width() - left, area.height());
}

void PreviewBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(kFrameGrey);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect area = PictureArea();
    painter.fillRect(area, Qt::white);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!picture_.isNull()) painter.drawImage(PictureRect(), picture_);  // whole, stretched
    if (!dots_.isNull()) painter.drawImage(DotsRect(), dots_);
}

// --- page ---

CDialogPPrint::CDialogPPrint(QWidget* parent) : QWidget(parent) { BuildControls(); }

CDialogPPrint::~CDialogPPrint() = default;

void CDialogPPrint::BuildControls() {
    const DialogUnits du = widgets::SizeAsPage(this);

    MakeGroupDu(this, du, QStringLiteral("Image Print"), 4, 2, 294, 164);

    // Left: the preview with its (unused) scroll bars, the path and "Load..".
    preview_ = new PreviewBox(this);
    SetControlId(preview_, kIdPreview, QStringLiteral("preview"));
    PlaceDu(preview_, du, 10, 12, 216, 112);
    horizontalScroll_ = new QScrollBar(Qt::Horizontal, this);
    SetControlId(horizontalScroll_, kIdHorizontalScroll, QStringLiteral("previewHorizontalScroll"));
    PlaceDu(horizontalScroll_, du, 10, 124, 216, 8);
    verticalScroll_ = new QScrollBar(Qt::Vertical, this);
    SetControlId(verticalScroll_, kIdVerticalScroll, QStringLiteral("previewVerticalScroll"));
    PlaceDu(verticalScroll_, du, 226, 12, 8, 112);

    path_ = new QLineEdit(this);
    SetControlId(path_, kIdPath, QStringLiteral("picturePath"));
    path_->setReadOnly(true);
    PlaceDu(path_, du, 10, 134, 170, 12);
    load_ = MakeButton(this, du, kIdLoad, "load", "&Load..", 184, 133, 42, 14);

    // Right: orientation, mode, threshold and "Print".
    MakeLabelDu(this, du, "Byte orientation", 234, 12, 62);
    vertical_ = new QRadioButton(QStringLiteral("&Vertical"), this);
    SetControlId(vertical_, kIdVertical, QStringLiteral("vertical"));
    PlaceDu(vertical_, du, 238, 24, 56, 10);
    horizontal_ = new QRadioButton(QStringLiteral("&Horizontal"), this);
    SetControlId(horizontal_, kIdHorizontal, QStringLiteral("horizontal"));
    PlaceDu(horizontal_, du, 238, 36, 56, 10);
    mode_ = new QComboBox(this);
    SetControlId(mode_, kIdMode, QStringLiteral("imageMode"));
    PlaceDu(mode_, du, 234, 50, 62, 13);
    // The entries are longer than the list is wide: let the open list show them whole.
    mode_->view()->setMinimumWidth(du.x(90));

    MakeLabelDu(this, du, "Threshold", 234, 72, 62);
    threshold_ = new QLineEdit(this);
    SetControlId(threshold_, kIdThreshold, QStringLiteral("threshold"));
    threshold_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), threshold_));
    PlaceDu(threshold_, du, 234, 83, 24, 12);
    update_ = MakeButton(this, du, kIdUpdate, "update", "&Update", 260, 82, 34, 14);

    MakeLabelDu(this, du, "Dither", 234, 99, 62);
    dither_ = new QComboBox(this);
    SetControlId(dither_, kIdDither, QStringLiteral("dither"));
    PlaceDu(dither_, du, 234, 109, 62, 13);
    dither_->view()->setMinimumWidth(du.x(70));

    fit_ = new QCheckBox(QStringLiteral("&Fit to paper"), this);
    SetControlId(fit_, kIdFit, QStringLiteral("fitToPaper"));
    PlaceDu(fit_, du, 10, 151, 70, 10);
    showDots_ = new QCheckBox(QStringLiteral("&Show dots"), this);
    SetControlId(showDots_, kIdShowDots, QStringLiteral("showDots"));
    PlaceDu(showDots_, du, 84, 151, 70, 10);

    print_ = MakeButton(this, du, kIdPrint, "print", "&Print", 238, 131, 56, 16);

    connect(load_, &QPushButton::clicked, this, [this] { OnLoadPicture(); });
    connect(update_, &QPushButton::clicked, this, [this] { OnUpdateThreshold(); });
    // Every click, also of the button already checked, refills the list.
    connect(vertical_, &QRadioButton::clicked, this, [this] { OnByteVertical(); });
    connect(horizontal_, &QRadioButton::clicked, this, [this] { OnByteHorizontal(); });
    connect(print_, &QPushButton::clicked, this, [this] { OnPrintPicture(); });
    connect(showDots_, &QCheckBox::toggled, this, [this] { OnShowDots(); });
}

void CDialogPPrint::InitImagePage() {
    vertical_->setChecked(true);
    FillModeList(ByteOrientation::Vertical);
    threshold_->setText(QString::fromLatin1(kDefaultThresholdText));
    {
        const QSignalBlocker block(dither_);
        dither_->clear();
        for (size_t i = 0; i < kDitherEntries.size(); ++i) {
            dither_->insertItem(static_cast<int>(i), QString::fromLatin1(kDitherEntries[i]));
        }
        dither_->setCurrentIndex(0);  // "None": the plain threshold
    }
    fit_->setChecked(false);
    showDots_->setChecked(false);
    horizontalScroll_->hide();
    verticalScroll_->hide();
    Start();
    print_->setEnabled(PrintEnabled());
}

void CDialogPPrint::FillModeList(ByteOrientation orientation) {
    const QSignalBlocker block(mode_);
    mode_->clear();
    const std::vector<std::string> entries = ModeEntries(orientation);
    for (size_t i = 0; i < entries.size(); ++i) {
        mode_->insertItem(static_cast<int>(i), QString::fromStdString(entries[i]));
    }
    mode_->setCurrentIndex(DefaultMode(orientation));
}

std::string CDialogPPrint::ThresholdText() const { return threshold_->text().toLatin1().toStdString(); }

PictureOptions CDialogPPrint::ChosenOptions() const {
    PictureOptions options;
    options.fit = fit_->isChecked();
    const int dither = dither_->currentIndex();
    if (dither >= 0 && dither < static_cast<int>(kDitherMethods.size())) {
        options.dither = kDitherMethods[static_cast<size_t>(dither)];
    }
    return options;
}

void CDialogPPrint::OnLoadPicture() { LoadPicture(ThresholdText(), ChosenOptions()); }

void CDialogPPrint::OnUpdateThreshold() {
    UpdateThreshold(ThresholdText(), ChosenOptions());
    preview_->update();
}

void CDialogPPrint::OnShowDots() { MatrixChanged(); }

void CDialogPPrint::MatrixChanged() {
    preview_->SetDots(showDots_->isChecked() ? imaging::DotPreview(Matrix(), kDotsPreviewMaxSide) : QImage());
}

void CDialogPPrint::OnByteVertical() { FillModeList(ByteOrientation::Vertical); }

void CDialogPPrint::OnByteHorizontal() { FillModeList(ByteOrientation::Horizontal); }

void CDialogPPrint::OnPrintPicture() {
    PrintPicture(vertical_->isChecked() ? ByteOrientation::Vertical : ByteOrientation::Horizontal,
                 mode_->currentIndex());
}

void CDialogPPrint::PicturePathChanged() {
    path_->setText(QFile::decodeName(QByteArray::fromStdString(PicturePath())));
}

void CDialogPPrint::PreviewChanged() { preview_->SetPicture(Preview()); }

void CDialogPPrint::PrintEnabledChanged() { print_->setEnabled(PrintEnabled()); }

}  // namespace pellory::pages
