// libFuzzer target for picture loading: the input is a picture file, loaded as the Image Print
// page loads a chosen file (decoder, completeness checks, size limits, preview, threshold). A
// refusal shows exactly one message; a load gives a dot matrix of the picture's size within the
// limits. The memory bound of a load is set by the run (fuzz/run gives this target its limit).
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "imaging/file_checks.h"
#include "imaging/picture.h"
#include "pages/core/image_print_actions.h"

namespace img = pellory::imaging;
namespace pages = pellory::pages;
using pellory::fuzz::Check;

namespace {

class CountingPrompt : public pellory::link::UserPrompt {
public:
    void ShowMessage(const std::string&, const std::string&, const std::string&) override { ++shown; }
    std::optional<std::string> AskOpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> AskSaveFile(const std::string&) override { return std::nullopt; }
    int shown = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The image format plug-ins (JPEG) are found through the application object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    img::CheckFileComplete(data, size);
    const img::AnnouncedSize announced = img::BmpAnnouncedSize(data, size);
    (void)announced;

    const pellory::fuzz::MemoryFile file(data, size);
    CountingPrompt prompt;
    pages::ImagePrintActions page;
    page.SetPrompt(&prompt);
    const pages::LoadOutcome outcome = page.LoadFile(file.path(), "128");
    if (outcome == pages::LoadOutcome::Loaded) {
        Check(prompt.shown == 0);
        const img::WorkingBitmap& bitmap = page.Bitmap();
        Check(!bitmap.empty());
        Check(bitmap.width() <= img::kMaxPictureSide && bitmap.height() <= img::kMaxPictureSide);
        Check(int64_t{bitmap.width()} * bitmap.height() <= img::kMaxPictureDots);
        Check(page.Matrix().width == bitmap.width() && page.Matrix().height == bitmap.height());
        Check(page.PrintEnabled());
    } else {
        Check(outcome == pages::LoadOutcome::PictureRefused);
        Check(prompt.shown == 1);
        Check(page.Bitmap().empty());
    }
    return 0;
}
