#include "pages/image_print_page.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "imaging/dot_preview.h"
#include "pages/page_widgets.h"

namespace pellory::pages {

namespace {

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
    preview_ = MakeControlDu<PreviewBox>(this, du, kIdPreview, "preview", {10, 12, 216, 112});
    horizontalScroll_ = MakeControlDu<QScrollBar>(this, du, kIdHorizontalScroll, "previewHorizontalScroll",
                                                  {10, 124, 216, 8}, Qt::Horizontal);
    verticalScroll_ = MakeControlDu<QScrollBar>(this, du, kIdVerticalScroll, "previewVerticalScroll",
                                                {226, 12, 8, 112}, Qt::Vertical);

    path_ = MakeControlDu<QLineEdit>(this, du, kIdPath, "picturePath", {10, 134, 170, 12});
    path_->setReadOnly(true);
    load_ = MakeControlDu<QPushButton>(this, du, kIdLoad, "load", {184, 133, 42, 14}, QStringLiteral("&Load.."));

    // Right: orientation, mode, threshold and "Print".
    MakeLabelDu(this, du, "Byte orientation", 234, 12, 62);
    vertical_ = MakeControlDu<QRadioButton>(this, du, kIdVertical, "vertical", {238, 24, 56, 10},
                                            QStringLiteral("&Vertical"));
    horizontal_ = MakeControlDu<QRadioButton>(this, du, kIdHorizontal, "horizontal", {238, 36, 56, 10},
                                              QStringLiteral("&Horizontal"));
    mode_ = MakeControlDu<QComboBox>(this, du, kIdMode, "imageMode", {234, 50, 62, 13});
    // The entries are longer than the list is wide: let the open list show them whole.
    mode_->view()->setMinimumWidth(du.x(90));

    MakeLabelDu(this, du, "Threshold", 234, 72, 62);
    threshold_ = MakeControlDu<QLineEdit>(this, du, kIdThreshold, "threshold", {234, 83, 24, 12});
    widgets::LimitToDigits(threshold_);
    update_ = MakeControlDu<QPushButton>(this, du, kIdUpdate, "update", {260, 82, 34, 14}, QStringLiteral("&Update"));

    MakeLabelDu(this, du, "Dither", 234, 99, 62);
    dither_ = MakeControlDu<QComboBox>(this, du, kIdDither, "dither", {234, 109, 62, 13});
    dither_->view()->setMinimumWidth(du.x(70));

    fit_ = MakeControlDu<QCheckBox>(this, du, kIdFit, "fitToPaper", {10, 151, 70, 10}, QStringLiteral("&Fit to paper"));
    showDots_ = MakeControlDu<QCheckBox>(this, du, kIdShowDots, "showDots", {84, 151, 70, 10},
                                         QStringLiteral("&Show dots"));

    print_ = MakeControlDu<QPushButton>(this, du, kIdPrint, "print", {238, 131, 56, 16}, QStringLiteral("&Print"));

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
    ReplaceEntries(dither_, kDitherEntries, 0);  // "None": the plain threshold
    fit_->setChecked(false);
    showDots_->setChecked(false);
    horizontalScroll_->hide();
    verticalScroll_->hide();
    Start();
    print_->setEnabled(PrintEnabled());
}

void CDialogPPrint::FillModeList(ByteOrientation orientation) {
    ReplaceEntries(mode_, ModeEntries(orientation), DefaultMode(orientation));
}

std::string CDialogPPrint::ThresholdText() const { return Latin1(threshold_->text()); }

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
