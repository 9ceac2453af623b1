// The "Image Print" tab page: the widgets over ImagePrintActions.
//
// "Load.." and "Update" hand the threshold field's text to the actions; the radio buttons refill
// the mode list on every click; "Print" passes the checked orientation and the mode list's
// position. "Fit to paper" and "Dither" are read by "Load.." and "Update", like the threshold.
// The preview box draws the loaded picture stretched into itself and, with "Show dots", the dots
// that will print beside it.
#pragma once

#include <QImage>
#include <QWidget>

#include "pages/core/image_print_actions.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace pellory::pages {

// The preview box: a grey frame around a white area into which the picture, when there is one,
// is drawn whole and stretched (its aspect ratio is not kept).
class PreviewBox : public QWidget {
public:
    explicit PreviewBox(QWidget* parent = nullptr);
    // The picture to draw; a null picture leaves the box white.
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return picture_; }
    // The dots to draw beside the picture; a null picture gives the whole box to the picture.
    void SetDots(const QImage& dots);
    const QImage& Dots() const { return dots_; }
    // The area inside the frame that is filled and drawn into.
    QRect PictureArea() const;
    // Where the picture and the dots go: the whole area, or its left and right halves while
    // dots are shown.
    QRect PictureRect() const;
    QRect DotsRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    QImage dots_;
};

class CDialogPPrint : public QWidget, public ImagePrintActions {
public:
    // Control ids of the page.
    static constexpr int kIdPreview = 1044;
    static constexpr int kIdVertical = 1006;
    static constexpr int kIdHorizontal = 1007;
    static constexpr int kIdMode = 1003;
    static constexpr int kIdThreshold = 1017;
    static constexpr int kIdUpdate = 1001;
    static constexpr int kIdPath = 1020;
    static constexpr int kIdLoad = 1002;
    static constexpr int kIdPrint = 1004;
    static constexpr int kIdHorizontalScroll = 1046;
    static constexpr int kIdVerticalScroll = 1047;
    static constexpr int kIdDither = 1048;
    static constexpr int kIdFit = 1049;
    static constexpr int kIdShowDots = 1050;
    // The dots picture is reduced to at most this many pixels per side.
    static constexpr int kDotsPreviewMaxSide = 1024;

    explicit CDialogPPrint(QWidget* parent = nullptr);
    ~CDialogPPrint() override;

    // Checks "Vertical", fills the mode list, writes the threshold, hides the scroll bars,
    // disables "Print" and switches the echo on. Sends nothing.
    void InitImagePage();

    // The handlers of "Load..", "Update", the two radio buttons and "Print".
    void OnLoadPicture();
    void OnUpdateThreshold();
    void OnByteVertical();
    void OnByteHorizontal();
    void OnPrintPicture();
    void OnShowDots();

protected:
    void PicturePathChanged() override;
    void PreviewChanged() override;
    void PrintEnabledChanged() override;
    void MatrixChanged() override;

private:
    void BuildControls();
    // Empties the mode list, inserts the orientation's entries at their positions and selects
    // its default entry.
    void FillModeList(ByteOrientation orientation);
    std::string ThresholdText() const;
    PictureOptions ChosenOptions() const;

    PreviewBox* preview_ = nullptr;
    QRadioButton* vertical_ = nullptr;
    QRadioButton* horizontal_ = nullptr;
    QComboBox* mode_ = nullptr;
    QLineEdit* threshold_ = nullptr;
    QPushButton* update_ = nullptr;
    QLineEdit* path_ = nullptr;
    QPushButton* load_ = nullptr;
    QPushButton* print_ = nullptr;
    QScrollBar* horizontalScroll_ = nullptr;
    QScrollBar* verticalScroll_ = nullptr;
    QComboBox* dither_ = nullptr;
    QCheckBox* fit_ = nullptr;
    QCheckBox* showDots_ = nullptr;
};

}  // namespace pellory::pages
