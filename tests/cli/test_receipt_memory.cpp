// pellory-cli --virtual-printer --receipt draws the paper as the bytes arrive: it keeps no copy of
// the stream, so its memory does not follow the size of what it prints.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/cli.h"
#include "support/live_heap.h"
#include "support/printer_streams.h"
#include "support/scratch_folder.h"

namespace pellory::test {
namespace {

// A file's path in a scratch folder of this executable's, removed as it ends.
std::string TempPath(const std::string& name) {
    static const ScratchFolder scratch("pellory_receipt_memory");
    return scratch.Path(name);
}

// 24 MiB of raster images (8 of 3 MiB); the paper holds what one image needs, and its drawing.
constexpr size_t kStream = 8 * PrinterStream::kImagePeriod;
constexpr long long kPeakBound = 16 << 20;

TEST(ReceiptMemory, TheCommandLinesOwnPrinterKeepsNoCopyOfTheStream) {
    const std::string input = TempPath("raster.bin");
    const std::string png = TempPath("raster.png");
    {
        std::ofstream file(input, std::ios::binary);
        PrinterStream stream(StreamKind::Raster);
        std::vector<uint8_t> chunk(1 << 20);
        for (size_t written = 0; written < kStream;) {
            const size_t n = std::min(chunk.size(), kStream - written);
            stream.next(chunk.data(), n);
            file.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
            written += n;
        }
        ASSERT_TRUE(file.good());
    }
    std::ostringstream out, err;
    const long long base = LiveHeapBytes();
    ResetPeakHeap();
    const int code = app::RunCli({"--virtual-printer", "--port", "COM93", "--receipt", png, "send-file", input}, out, err);
    const long long peak = PeakHeapBytes() - base;
    EXPECT_LE(peak, kPeakBound) << "peak heap growth for a " << (kStream >> 20) << " MiB send";
    // The eight images are far more paper than one picture may hold: the send goes through, and
    // the picture is refused as too tall rather than cut.
    EXPECT_EQ(code, 4) << err.str();
    EXPECT_NE(err.str().find("would be taller than"), std::string::npos) << err.str();
    EXPECT_FALSE(std::filesystem::exists(png));
    std::remove(input.c_str());
    std::remove(png.c_str());
}

}  // namespace
}  // namespace pellory::test
