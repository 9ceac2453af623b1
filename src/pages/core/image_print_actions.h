// What the "Image Print" page does without its widgets: loading a picture (one decode gives the
// preview to draw and the working bitmap), the threshold field's check, the black-and-white dot
// matrix (thresholded or dithered, optionally fitted to the paper first), and printing it as
// column stripes (ESC *) or as raster images (GS v 0). The command line uses the same class, so
// both send the same bytes.
//
// Like the other pages, a print stops when the connection procedure leaves the link closed (its
// message has told the user why): nothing is handed to the link and no history row is added.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QImage>

#include "imaging/bit_image.h"
#include "imaging/dither.h"
#include "imaging/dot_matrix.h"
#include "imaging/picture.h"
#include "pages/core/page_link.h"

namespace pellory::pages {

// The file dialog's filter of "Load..".
inline constexpr const char* kPictureFilter =
    "BMP file(*.bmp)|*.bmp|JPEG/JPG files(*.jpg,*.jpeg)|*.jpg;*.jpeg|Others(*.*)|*.*||";

inline constexpr const char* kPictureLoadFailText = "Picture load fail";
inline constexpr const char* kPictureLoadFailCaption = "Note";
// The line under the reason of a refused picture: what the user can do about it.
inline constexpr const char* kPictureLoadFailHint =
    "Choose a BMP or JPEG file that a picture viewer opens, or save the picture again from an image editor.";
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

// The "Dither" list's entries in list order; the position is the method.
inline constexpr std::array<const char*, 4> kDitherEntries = {"None", "Floyd-Steinberg", "Atkinson", "Ordered 8x8"};
inline constexpr std::array<imaging::DitherMethod, 4> kDitherMethods = {
    imaging::DitherMethod::None, imaging::DitherMethod::FloydSteinberg, imaging::DitherMethod::Atkinson,
    imaging::DitherMethod::Ordered8x8};

// How the dot matrix is made from the picture: "Fit to paper" (scale a picture wider than the
// printable width down to it) and the "Dither" method. The defaults are the plain threshold of
// the picture at its full size.
struct PictureOptions {
    bool fit = false;
    imaging::DitherMethod dither = imaging::DitherMethod::None;
};

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
    LoadOutcome LoadPicture(std::string_view thresholdText, const PictureOptions& options = {});
    // "Load.." once a file is chosen (the file name's bytes, opened as given): stores and shows
    // the path, decodes the file once (with "Fit to paper", at a reduced size where the decoder
    // can, never below the printable width), keeps the preview (a failure drops the old one) and
    // the working bitmap (a failure shows "Picture load fail" with the decoder's reason), checks
    // the threshold, builds the matrix with the options and enables printing.
    LoadOutcome LoadFile(const std::string& path, std::string_view thresholdText, const PictureOptions& options = {});
    // "Update": checks the threshold, decodes the picture at the stored path again (once) and
    // rebuilds the matrix with the options. Never touches the preview or whether printing is
    // enabled.
    UpdateOutcome UpdateThreshold(std::string_view thresholdText, const PictureOptions& options = {});

    // Rebuilds the dot matrix from the working bitmap (an empty matrix without one) with the
    // options of the last Load or Update: fitted to link::PrintableWidth when asked, then
    // thresholded or dithered.
    void ThresholdImage(int threshold);
    // Gives the actions a decoded picture as if it had just been loaded (the command line and
    // tests; the preview is left alone).
    void SetWorkingBitmap(imaging::WorkingBitmap bitmap) { bitmap_ = std::move(bitmap); }

    // "Print": the connection procedure; when the link is open afterwards and a picture has been
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
    const PictureOptions& Options() const { return options_; }

protected:
    // Called as the state they name changes, so that a front end can show it at once (before a
    // message box of the same action appears). The defaults do nothing.
    virtual void PicturePathChanged() {}
    virtual void PreviewChanged() {}
    virtual void PrintEnabledChanged() {}
    virtual void MatrixChanged() {}

private:
    void ShowLoadFailure(const std::string& reason);
    bool CheckThreshold(std::string_view text, int32_t& threshold);

    std::string path_;
    QImage preview_;
    imaging::WorkingBitmap bitmap_;
    imaging::DotMatrix matrix_;
    PictureOptions options_;
    bool printEnabled_ = false;
};

}  // namespace pellory::pages
