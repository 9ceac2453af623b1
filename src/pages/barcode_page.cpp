#include "pages/barcode_page.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "pages/page_widgets.h"
#include "widgets/resources.h"

namespace pellory::pages {

CDiglogBarcode::CDiglogBarcode(QWidget* parent) : QWidget(parent) { BuildControls(); }

CDiglogBarcode::~CDiglogBarcode() = default;

void CDiglogBarcode::BuildControls() {
    const DialogUnits du = widgets::SizeAsPage(this);

    // Top: the sample barcode and what a barcode is.
    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("barcodeSample"));
    picture_->setPixmap(widgets::LoadResourcePixmap(widgets::kIdBitmapBarcodeSample));
    picture_->setAlignment(Qt::AlignCenter);
    PlaceDu(picture_, du, 4, 0, 110, 38);
    auto* description = new QLabel(QString::fromLatin1(kDescription), this);
    description->setObjectName(QStringLiteral("barcodeDescription"));
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    PlaceDu(description, du, 120, 2, 178, 32);

    // Left: the settings.
    MakeGroupDu(this, du, "Barcode Setting", 4, 38, 146, 114);
    MakeLabelDu(this, du, "Barcode System:", 10, 52, 62);
    symbology_ = MakeControlDu<QComboBox>(this, du, kIdSymbology, "barcodeSystem", {74, 50, 70, 13});
    MakeLabelDu(this, du, "HRI Position:", 10, 76, 62);
    hri_ = MakeControlDu<QComboBox>(this, du, kIdHri, "hriPosition", {74, 74, 70, 13});
    MakeLabelDu(this, du, "Barcode Width:", 10, 100, 62);
    width_ = MakeControlDu<QLineEdit>(this, du, kIdWidth, "barcodeWidth", {74, 98, 70, 12});
    MakeLabelDu(this, du, "Barcode Height:", 10, 124, 62);
    height_ = MakeControlDu<QLineEdit>(this, du, kIdHeight, "barcodeHeight", {74, 122, 70, 12});

    // Right: the data, what the symbology allows, and the print button.
    MakeGroupDu(this, du, "Barcode Print", 154, 38, 144, 114);
    MakeLabelDu(this, du, "Barcode Data:", 160, 48, 132);
    data_ = MakeControlDu<QLineEdit>(this, du, kIdData, "barcodeData", {160, 58, 132, 12});
    MakeLabelDu(this, du, "The range of Characters:", 160, 73, 132);
    characterRange_ = MakeControlDu<QLineEdit>(this, du, kIdCharacterRange, "characterRange", {160, 83, 132, 12});
    characterRange_->setReadOnly(true);
    MakeLabelDu(this, du, "The range of Characters Number:", 160, 98, 132);
    numberRange_ = MakeControlDu<QPlainTextEdit>(this, du, kIdNumberRange, "numberRange", {160, 108, 132, 24});
    numberRange_->setReadOnly(true);
    print_ = MakeControlDu<QPushButton>(this, du, kIdPrint, "printBarcode", {190, 135, 72, 14},
                                        QStringLiteral("&Print Barcode"));

    // The symbology list only shows its texts, for any change of the selection.
    connect(symbology_, &QComboBox::currentIndexChanged, this, [this](int i) { ShowRanges(i); });
    // The HRI list: the user's choices (the actions test the ready flag).
    connect(hri_, &QComboBox::activated, this, [this](int i) { HriStep(i); });
    // Width and height: every change of the text while the ready flag is set.
    connect(width_, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (ReadyFlag) ChangeWidth(Latin1(t));
    });
    connect(height_, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (ReadyFlag) ChangeHeight(Latin1(t));
    });
    connect(print_, &QPushButton::clicked, this, [this] { OnPrint(); });
}

void CDiglogBarcode::InitBarcodePage() {
    ReplaceEntries(symbology_, kSymbologies, kDefaultSymbology, [](const Symbology& s) { return s.item; });
    ReplaceEntries(hri_, kHriEntries, kDefaultHri);
    {
        // The start-up texts send nothing, whatever the ready flag says.
        const QSignalBlocker blockWidth(width_);
        const QSignalBlocker blockHeight(height_);
        width_->setText(QString::fromLatin1(kDefaultWidthText));
        height_->setText(QString::fromLatin1(kDefaultHeightText));
    }
    data_->setText(QString::fromLatin1(kDefaultBarcodeData));
    ShowRanges(symbology_->currentIndex());
    Start();
}

void CDiglogBarcode::ShowRanges(int index) {
    if (index < 0 || static_cast<size_t>(index) >= kSymbologies.size()) return;
    const Symbology& s = kSymbologies[static_cast<size_t>(index)];
    characterRange_->setText(QString::fromLatin1(s.characterRange));
    numberRange_->setPlainText(QString::fromLatin1(s.numberRange));
}

void CDiglogBarcode::OnPrint() { PrintBarcode(symbology_->currentIndex(), hri_->currentIndex(), Latin1(data_->text())); }

}  // namespace pellory::pages
