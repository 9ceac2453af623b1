// The virtual printer as the program runs it (no recording): its memory does not grow with what
// it receives, and it still answers and counts as before.
#include <gtest/gtest.h>

#include <vector>

#include "support/live_heap.h"
#include "support/printer_streams.h"
#include "support/raw_host.h"
#include "vprinter/virtual_printer.h"

namespace pellory::test {
namespace {

using vprinter::Bytes;
using vprinter::VirtualPrinter;

// Far more than the printer may keep: a head, its read buffer, a piece in flight.
constexpr long long kHeapBound = 1 << 20;
constexpr size_t kChunk = 1 << 20;
constexpr size_t kStream = 24u << 20;  // 24 times the bound, 8 raster images of 3 MiB

class PrinterMemory : public ::testing::TestWithParam<StreamKind> {};

TEST_P(PrinterMemory, DoesNotGrowWithTheBytesReceived) {
    VirtualPrinter printer;
    ASSERT_TRUE(printer.start());
    RawHost host(printer.slavePath());
    ASSERT_TRUE(host.open());
    PrinterStream stream(GetParam());
    std::vector<uint8_t> chunk(kChunk);
    // The first chunk settles what the printer holds whatever it receives.
    stream.next(chunk.data(), chunk.size());
    ASSERT_TRUE(host.write(chunk.data(), chunk.size()));
    ASSERT_TRUE(printer.waitForBytes(kChunk, 120000));
    const long long base = LiveHeapBytes();
    for (size_t sent = kChunk; sent < kStream;) {
        stream.next(chunk.data(), chunk.size());
        ASSERT_TRUE(host.write(chunk.data(), chunk.size()));
        sent += chunk.size();
        ASSERT_TRUE(printer.waitForBytes(sent, 120000)) << printer.receivedCount() << " of " << sent;
        ASSERT_LE(LiveHeapBytes() - base, kHeapBound) << "after " << (sent >> 20) << " MiB";
    }
    EXPECT_EQ(printer.receivedCount(), kStream);
    EXPECT_TRUE(printer.received().empty()) << "nothing recorded";
    EXPECT_TRUE(printer.commands().empty());
}

INSTANTIATE_TEST_SUITE_P(Streams, PrinterMemory,
                         ::testing::Values(StreamKind::LineFeeds, StreamKind::Raster, StreamKind::Random),
                         [](const ::testing::TestParamInfo<StreamKind>& param) { return std::string(StreamKindName(param.param)); });

// Without the recording it answers status requests outside image data, counts the commands as
// the recording lists them, and takes set-up commands.
TEST(PrinterWithoutRecording, AnswersAndCounts) {
    VirtualPrinter printer;
    ASSERT_FALSE(printer.recording());
    ASSERT_TRUE(printer.start());
    RawHost host(printer.slavePath());
    ASSERT_TRUE(host.open());
    // An image whose data hold status requests, cut over three writes, then a request.
    const Bytes head = {0x1D, 0x76, 0x30, 0x00, 0x03, 0x00, 0x02, 0x00, 0x10, 0x04};
    const Bytes rest = {0x05, 0x10, 0x04, 0x05};
    ASSERT_TRUE(host.write(head));
    ASSERT_TRUE(host.write(rest));
    EXPECT_TRUE(host.read(150).empty()) << "no answer from inside the image";
    ASSERT_TRUE(host.write(Bytes{0x10, 0x04, 0x05}));
    EXPECT_EQ(host.read(5000), Bytes{0x00});
    // Text runs count once however they arrive; the baud-rate set-up command is read.
    ASSERT_TRUE(host.write(Bytes{'a', 'b'}));
    ASSERT_TRUE(printer.waitForBytes(19, 5000));
    ASSERT_TRUE(host.write(Bytes{'c', 0x0A, 0x1D, 0x28, 0x45, 0x07, 0x00, 0x0B, 0x01, '1', '9', '2', '0', '0', 'x'}));
    ASSERT_TRUE(printer.waitForBytes(34, 5000));
    EXPECT_EQ(printer.answeredRequests(), 1u);
    EXPECT_EQ(printer.commandCount(), 6u) << "image, request, text, LF, set-up, text";
    EXPECT_EQ(printer.baudRate(), 19200u);
    EXPECT_TRUE(printer.received().empty());
    printer.clearReceived();
    EXPECT_EQ(printer.commandCount(), 0u);
    EXPECT_EQ(printer.receivedCount(), 0u);
}

}  // namespace
}  // namespace pellory::test
