// The "Barcode Print" tab page: the widgets over BarcodeActions.
//
// Width and height act on every change of their text while the ready flag is set; the HRI list
// acts on the user's choices; the symbology list only shows its range texts and sends nothing.
#pragma once

#include <QWidget>

#include "pages/core/barcode_actions.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace pellory::pages {

class CDiglogBarcode : public QWidget, public BarcodeActions {
public:
    // Control ids of the page.
    static constexpr int kIdSymbology = 1049;
    static constexpr int kIdHri = 1052;
    static constexpr int kIdWidth = 1050;
    static constexpr int kIdHeight = 1054;
    static constexpr int kIdData = 1053;
    static constexpr int kIdCharacterRange = 1056;
    static constexpr int kIdNumberRange = 1058;
    static constexpr int kIdPrint = 1055;

    // The text beside the sample picture.
    static constexpr const char* kDescription =
        "A barcode is an optical machine-readable representation of data, which shows data about the "
        "object to which it attaches.";

    explicit CDiglogBarcode(QWidget* parent = nullptr);
    ~CDiglogBarcode() override;

    // Fills both lists, writes the start-up texts and switches the echo on. Sends nothing.
    void InitBarcodePage();

    // The "Print Barcode" button's handler.
    void OnPrint();

private:
    void BuildControls();
    // Shows the range texts of the symbology at index.
    void ShowRanges(int index);

    QLabel* picture_ = nullptr;
    QComboBox* symbology_ = nullptr;
    QComboBox* hri_ = nullptr;
    QLineEdit* width_ = nullptr;
    QLineEdit* height_ = nullptr;
    QLineEdit* data_ = nullptr;
    QLineEdit* characterRange_ = nullptr;
    QPlainTextEdit* numberRange_ = nullptr;
    QPushButton* print_ = nullptr;
};

}  // namespace pellory::pages
