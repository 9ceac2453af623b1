// What the "Image Print" page does without its widgets: loading a picture (a preview to draw and
// a working bitmap to threshold), the threshold field's check, the black-and-white dot matrix,
// and printing it as column stripes (ESC *) or as raster images (GS v 0). The command line uses
// the same class, so both send the same bytes.
//
// The class lives beside the decoders because it holds their Qt-based types (QImage for the
// preview, WorkingBitmap for the pixels); it is a page link like the other pages' actions and so
// belongs to the pages namespace.
//
// Like the other pages, a print stops when the connection procedure leaves the link closed: its
// message has told the user why, and nothing is handed to the link or added to the history.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QImage>

#include "imaging/bit_image.h"
#include "imaging/dot_matrix.h"
#include "imaging/picture.h"
#include "pages/core/page_link.h"

namespace pellory::pages {

// The file dialog's filter of "Load..".
inline constexpr const char* kPictureFilter =
    "BMP file(*.bmp)|*.bmp|JPEG/JPG files(*.jpg,*.jpeg)|*.jpg;*.jpeg|Others(*.*)|*.*||";

inline constexpr const char* kPictureLoadFailText = "Picture load fail";
inline constexpr const char* kPictureLoadFailCaption = "Note";
inline constexpr const char* kThresholdTooLargeText = "Threshold can not be greater than 255";

// Start-up text of the threshold field.
inline constexpr const char* kDefaultThresholdText = "128";
// The largest threshold the page accepts; zero and negative values are passed on as they are.
constexpr int32_t kMaxThreshold = 255;

// The preview is only ever drawn into a box a few hundred pixels wide, so a larger decoded
// picture is scaled down to at most this many pixels per side before it is kept. The working
// bitmap and the dot matrix keep the full size.
constexpr int kPreviewMaxSide = 2048;

// The threshold field's value when it may be used: the text read as a signed number (anything
// that is not a number reads as 0), refused (nothing) when it is 256 or more.
std::optional<int32_t> AcceptedThreshold(std::string_view text);

// Which radio button is checked: "Vertical" prints column stripes, "Horizontal" raster images.
enum class ByteOrientation { Vertical, Horizontal };

// The labels of the mode list for an orientation, in list order, and the entry selected
// whenever the list is filled.
std::vector<std::string> ModeEntries(ByteOrientation orientation);
int DefaultMode(ByteOrientation orientation);

enum class LoadOutcome {
    Cancelled,         // the file dialog was cancelled: nothing changed
    PictureRefused,    // the pixel decoder refused the file: message shown, matrix and "Print" kept
    ThresholdRefused,  // the threshold was 256 or more: message shown, matrix and "Print" kept
    Loaded,            // the matrix is the new picture's, printing is enabled
};

enum class UpdateOutcome {
    ThresholdRefused,  // message shown, nothing else done
    NoPicture,         // no picture was ever chosen: nothing done
    PictureRefused,    // the file can no longer be decoded: message shown, nothing changed
    Updated,           // the matrix was rebuilt with the new threshold
};

class ImagePrintActions : public PageLink {
public:
    ImagePrintActions();
    ~ImagePrintActions() override;

    // Start-up: switches the link's echo record on. Sends nothing; printing is disabled.
    void Start();

    // "Load..": asks for a picture file, then loads it as LoadFile does.
    LoadOutcome LoadPicture(std::string_view thresholdText);
    // "Load.." once a file is chosen (path in the local 8-bit file-name encoding): stores and
    // shows the path, decodes the preview (a failure only drops the old one), decodes the
    // working bitmap (a failure shows "Picture load fail" with the decoder's reason), checks the
    // threshold, builds the matrix and enables printing.
    LoadOutcome LoadFile(const std::string& path, std::string_view thresholdText);
    // "Update": checks the threshold, decodes the picture at the stored path again and rebuilds
    // the matrix. Never touches the preview or whether printing is enabled.
    UpdateOutcome UpdateThreshold(std::string_view thresholdText);

    // Rebuilds the dot matrix from the working bitmap (an empty matrix without one).
    void ThresholdImage(int threshold);
    // Gives the actions a decoded picture as if it had just been loaded (the command line and
    // tests; the preview is left alone).
    void SetWorkingBitmap(imaging::WorkingBitmap bitmap) { bitmap_ = std::move(bitmap); }

    // "Print": the connection procedure, then, when the link is open and a picture has been
    // converted, the matrix in the orientation and mode (list position) given. Returns whether
    // image commands were handed to the link.
    bool PrintPicture(ByteOrientation orientation, int modeIndex);
    // "Vertical": one Send and one history row for each stripe, then the same for its paper feed.
    void PrintColumnImage(int modeIndex);
    // "Horizontal": one raster-image command per band of at most 65535 rows (GS v 0 carries the
    // row count in 16 bits), each one history row; a picture up to that height is one command.
    void PrintRasterImage(int modeIndex);

    const imaging::DotMatrix& Matrix() const { return matrix_; }
    const imaging::WorkingBitmap& Bitmap() const { return bitmap_; }
    const QImage& Preview() const { return preview_; }
    const std::string& PicturePath() const { return path_; }
    bool PrintEnabled() const { return printEnabled_; }

protected:
    // Called as the state they name changes, so that a front end can show it at once (before a
    // message box of the same action appears). The defaults do nothing.
    virtual void PicturePathChanged() {}
    virtual void PreviewChanged() {}
    virtual void PrintEnabledChanged() {}

private:
    void ShowLoadFailure(const std::string& reason);
    bool CheckThreshold(std::string_view text, int32_t& threshold);

    std::string path_;
    QImage preview_;
    imaging::WorkingBitmap bitmap_;
    imaging::DotMatrix matrix_;
    bool printEnabled_ = false;
};

}  // namespace pellory::pages
