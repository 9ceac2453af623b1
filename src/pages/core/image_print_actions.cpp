#include "pages/core/image_print_actions.h"

#include <algorithm>
#include <utility>

#include "imaging/fit.h"
#include "link/port_settings.h"
#include "pages/core/field_reader.h"
#include "protocol/model_profile.h"

namespace pellory::pages {

std::optional<int32_t> AcceptedThreshold(std::string_view text) {
    const int32_t value = ReadFieldNumber(text);
    if (value > kMaxThreshold) return std::nullopt;
    return value;
}

std::vector<std::string> ModeEntries(ByteOrientation orientation) {
    std::vector<std::string> entries;
    if (orientation == ByteOrientation::Vertical) {
        for (const imaging::ColumnMode& mode : imaging::kColumnModes) entries.emplace_back(mode.label);
    } else {
        for (const imaging::RasterMode& mode : imaging::kRasterModes) entries.emplace_back(mode.label);
    }
    return entries;
}

int DefaultMode(ByteOrientation orientation) {
    return orientation == ByteOrientation::Vertical ? imaging::kDefaultColumnMode : imaging::kDefaultRasterMode;
}

namespace {

// What is kept of a decoded picture for drawing: the picture itself (sharing its pixels), or a
// smaller copy when it exceeds kPreviewMaxSide on either side. The copy is stretched into the box
// like the original would be, so only the stored size changes, not what the box shows.
QImage PreviewOf(const QImage& decoded) {
    if (decoded.width() <= kPreviewMaxSide && decoded.height() <= kPreviewMaxSide) return decoded;
    return decoded.scaled(std::min(decoded.width(), kPreviewMaxSide), std::min(decoded.height(), kPreviewMaxSide),
                          Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

ImagePrintActions::ImagePrintActions() : PageLink(link::ProbeOptions{link::kOpenErrorText, false}) {}

ImagePrintActions::~ImagePrintActions() = default;

void ImagePrintActions::Start() {
    echoSwitch = true;
    printEnabled_ = false;
}

void ImagePrintActions::ShowLoadFailure(const std::string& reason) {
    if (link::UserPrompt* prompt = Prompt()) {
        prompt->ShowMessage(kPictureLoadFailText, kPictureLoadFailCaption,
                            reason.empty() ? std::string(kPictureLoadFailHint) : reason + "\n" + kPictureLoadFailHint);
    }
}

bool ImagePrintActions::CheckThreshold(std::string_view text, int32_t& threshold) {
    const std::optional<int32_t> accepted = AcceptedThreshold(text);
    if (!accepted) {
        ShowMessage(kThresholdTooLargeText);
        return false;
    }
    threshold = *accepted;
    return true;
}

LoadOutcome ImagePrintActions::LoadPicture(std::string_view thresholdText, const PictureOptions& options) {
    link::UserPrompt* prompt = Prompt();
    if (!prompt) return LoadOutcome::Cancelled;
    const std::optional<std::string> path = prompt->AskOpenFile(kPictureFilter);
    if (!path) return LoadOutcome::Cancelled;
    return LoadFile(*path, thresholdText, options);
}

namespace {

imaging::DecodeOptions DecodeOptionsFor(const PictureOptions& options) {
    imaging::DecodeOptions decode;
    // Fitting needs no more than the printable width; the widest printer bounds it, so that a
    // later change of the printer model still finds enough pixels.
    if (options.fit) decode.reduceToWidth = std::max(link::PrintableWidth, protocol::WidestProfile().paperDots);
    return decode;
}

}  // namespace

LoadOutcome ImagePrintActions::LoadFile(const std::string& path, std::string_view thresholdText,
                                        const PictureOptions& options) {
    path_ = path;
    PicturePathChanged();

    // One decode serves both the preview and the pixels: both would read the same file with the
    // same decoder, so they succeed or fail together, and a large picture is decoded only once.
    bitmap_ = imaging::WorkingBitmap();
    imaging::WorkingBitmap decoded;
    std::string reason;
    if (imaging::DecodePicture(path_, decoded, &reason, DecodeOptionsFor(options))) {
        preview_ = PreviewOf(decoded.image());
        PreviewChanged();
        bitmap_ = std::move(decoded);
    } else {
        if (!preview_.isNull()) {
            preview_ = QImage();
            PreviewChanged();
        }
        ShowLoadFailure(reason);
        return LoadOutcome::PictureRefused;
    }

    int32_t threshold = 0;
    if (!CheckThreshold(thresholdText, threshold)) return LoadOutcome::ThresholdRefused;
    options_ = options;
    ThresholdImage(threshold);
    printEnabled_ = true;
    PrintEnabledChanged();
    return LoadOutcome::Loaded;
}

UpdateOutcome ImagePrintActions::UpdateThreshold(std::string_view thresholdText, const PictureOptions& options) {
    int32_t threshold = 0;
    if (!CheckThreshold(thresholdText, threshold)) return UpdateOutcome::ThresholdRefused;
    if (path_.empty()) return UpdateOutcome::NoPicture;
    // The file is read again: it may have changed since it was loaded. The current bitmap stays
    // until the new one has decoded, so a failure changes nothing.
    imaging::WorkingBitmap fresh;
    std::string reason;
    if (!imaging::DecodePicture(path_, fresh, &reason, DecodeOptionsFor(options))) {
        ShowLoadFailure(reason);
        return UpdateOutcome::PictureRefused;
    }
    bitmap_ = std::move(fresh);
    options_ = options;
    ThresholdImage(threshold);
    return UpdateOutcome::Updated;
}

void ImagePrintActions::ThresholdImage(int threshold) {
    if (options_.fit) {
        const imaging::WorkingBitmap fitted = imaging::FitToWidth(bitmap_, link::PrintableWidth);
        imaging::DitherImage(fitted, threshold, options_.dither, matrix_);
    } else {
        imaging::DitherImage(bitmap_, threshold, options_.dither, matrix_);
    }
    MatrixChanged();
}

bool ImagePrintActions::PrintPicture(ByteOrientation orientation, int modeIndex) {
    OpenAndProbe();
    if (!IsOpen()) return false;  // its message has been shown; nothing goes to the link
    if (matrix_.empty()) return false;
    if (orientation == ByteOrientation::Vertical) {
        PrintColumnImage(modeIndex);
    } else {
        PrintRasterImage(modeIndex);
    }
    return true;
}

void ImagePrintActions::PrintColumnImage(int modeIndex) {
    // Every stripe is built before the first byte goes out.
    const imaging::SendRows rows = imaging::EncodeColumnStripes(matrix_, modeIndex, link::PrintableWidth);
    for (const std::vector<uint8_t>& row : rows) {
        SendBytes(row);
        HandOver();
    }
}

void ImagePrintActions::PrintRasterImage(int modeIndex) {
    const imaging::RasterImage image = imaging::EncodeRaster(matrix_, link::PrintableWidth);
    for (const imaging::RasterCommand& c : imaging::RasterCommands(image, modeIndex)) {
        SendRasterImage(c.data, c.m, c.xL, c.xH, c.yL, c.yH);
        HandOver();
    }
}

}  // namespace pellory::pages
