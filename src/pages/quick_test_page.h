// The "Printer Test" tab page: the widgets over QuickTestActions.
//
// The "Test" group holds one button per printer sample (samples::Samples(), in that order, each
// with its sample's id); the "Printer States" group holds the query button and the six status
// lamps, which only display the result of the last query.
#pragma once

#include <QWidget>

#include <array>
#include <cstddef>
#include <vector>

#include "pages/core/quick_test_actions.h"

class QPushButton;

namespace pellory::widgets {
class CShadeButton;
}

namespace pellory::pages {

// Id of the "Printer States" button; the sample buttons carry samples::Sample::controlId and the
// lamps LampInfo::controlId.
inline constexpr int kIdPrinterStatesButton = 1013;

class CDialogQuickTest : public QWidget, public QuickTestActions {
public:
    explicit CDialogQuickTest(QWidget* parent = nullptr);
    ~CDialogQuickTest() override;

    // Every lamp back to its shaded face and the dark lamp; switches the echo on.
    void InitTestPage();

    // The button handlers.
    void OnSample(size_t index);
    void OnPrinterStates();

    widgets::CShadeButton* LampButton(Lamp lamp) const { return lamps_[static_cast<size_t>(lamp)]; }
    QPushButton* SampleButton(size_t index) const { return index < sampleButtons_.size() ? sampleButtons_[index] : nullptr; }

private:
    void BuildControls();

    std::vector<QPushButton*> sampleButtons_;
    QPushButton* statesButton_ = nullptr;
    std::array<widgets::CShadeButton*, kLampCount> lamps_{};
};

}  // namespace pellory::pages
