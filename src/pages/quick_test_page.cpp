#include "pages/quick_test_page.h"

#include <QColor>
#include <QPushButton>

#include <iterator>

#include "pages/page_widgets.h"
#include "widgets/shade_button.h"

namespace pellory::pages {

namespace {

// A readable object name from a caption: the prefix, then the caption's letters and digits.
QString NameFor(const char* prefix, const std::string& caption) {
    QString name = QString::fromLatin1(prefix);
    for (char c : caption) {
        if (QChar::fromLatin1(c).isLetterOrNumber()) name += QChar::fromLatin1(c);
    }
    return name;
}

// The keyboard letters of the sample buttons, in sample order (Alt+letter presses the button);
// "Printer States" has S.
constexpr char kSampleMnemonics[] = {'f', 'p', 'm', 'o', 'd', 'h', 'v', 'i', 'a', 'b', 'q', 'c'};
constexpr char kStatesMnemonic = 's';

// Placement of the sample buttons: four to a line, three lines.
constexpr int kColumns = 4;
constexpr int kButtonLeft = 12;
constexpr int kButtonTop = 14;
constexpr int kButtonWidth = 66;
constexpr int kButtonHeight = 16;
constexpr int kButtonStepX = 70;
constexpr int kButtonStepY = 22;

// Placement of the lamps: three to a line, two lines, right of the query button.
constexpr int kLampColumns = 3;
constexpr int kLampLeft = 92;
constexpr int kLampTop = 106;
constexpr int kLampWidth = 64;
constexpr int kLampStepX = 66;

}  // namespace

CDialogQuickTest::CDialogQuickTest(QWidget* parent) : QWidget(parent) { BuildControls(); }

CDialogQuickTest::~CDialogQuickTest() = default;

void CDialogQuickTest::BuildControls() {
    const DialogUnits du = widgets::SizeAsPage(this);

    MakeGroupDu(this, du, QStringLiteral("Test"), 4, 2, 294, 84);
    const std::vector<samples::Sample>& all = samples::Samples();
    for (size_t i = 0; i < all.size(); ++i) {
        QString caption = QString::fromLatin1(all[i].button.c_str());
        if (i < std::size(kSampleMnemonics)) caption = widgets::WithMnemonic(caption, QLatin1Char(kSampleMnemonics[i]));
        const int col = static_cast<int>(i) % kColumns;
        const int line = static_cast<int>(i) / kColumns;
        auto* button = MakeControlDu<QPushButton>(
            this, du, all[i].controlId, NameFor("sample", all[i].button),
            {kButtonLeft + col * kButtonStepX, kButtonTop + line * kButtonStepY, kButtonWidth, kButtonHeight}, caption);
        connect(button, &QPushButton::clicked, this, [this, i] { OnSample(i); });
        sampleButtons_.push_back(button);
    }

    MakeGroupDu(this, du, QStringLiteral("Printer States"), 4, 90, 294, 62);
    statesButton_ = MakeControlDu<QPushButton>(
        this, du, kIdPrinterStatesButton, "printerStates", {12, kLampTop, 72, kButtonHeight},
        widgets::WithMnemonic(QStringLiteral("Printer States"), QLatin1Char(kStatesMnemonic)));
    connect(statesButton_, &QPushButton::clicked, this, [this] { OnPrinterStates(); });

    for (size_t i = 0; i < kLampCount; ++i) {
        const int col = static_cast<int>(i) % kLampColumns;
        const int line = static_cast<int>(i) / kLampColumns;
        auto* lamp = MakeControlDu<widgets::CShadeButton>(
            this, du, kLamps[i].controlId, NameFor("lamp", kLamps[i].name),
            {kLampLeft + col * kLampStepX, kLampTop + line * kButtonStepY, kLampWidth, kButtonHeight},
            QString::fromLatin1(kLamps[i].name));
        // Display only: a click does nothing.
        lamp->setFocusPolicy(Qt::NoFocus);
        lamps_[i] = lamp;
    }
}

void CDialogQuickTest::InitTestPage() {
    for (widgets::CShadeButton* lamp : lamps_) {
        lamp->SetShade(QColor(), QColor());  // the default shading of the face
        lamp->SetLamp(false);
    }
    StartEcho();
}

void CDialogQuickTest::OnSample(size_t index) { RunSample(index); }

void CDialogQuickTest::OnPrinterStates() {
    const StatusResult result = QueryStatus();
    if (!result.linkOpen) {
        InitTestPage();
        return;
    }
    for (size_t i = 0; i < kLampCount; ++i) lamps_[i]->SetLamp(result.lamps[i]);
}

}  // namespace pellory::pages
