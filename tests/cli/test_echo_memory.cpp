// How much memory the echo of a large send takes on its way from the link into the command
// history (the window's list and the command line's rows): the bytes sent, once.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "history/history_model.h"
#include "link/hex_echo.h"
#include "link/serial_engine.h"
#include "support/live_heap.h"

namespace pellory {
namespace {

using test::LiveHeapBytes;

constexpr std::size_t kSize = 1u << 20;
// Room for the bookkeeping of a row next to its bytes.
constexpr long long kSlack = 64 * 1024;

std::vector<uint8_t> Pattern(std::size_t n) {
    std::vector<uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * 37 + i / 251);
    return out;
}

// A link that records the echo of what it is given and writes nothing (it is never opened).
class EchoingLink : public link::CSerialEngine {
public:
    EchoingLink() { echoSwitch = true; }
};

TEST(EchoMemory, TheWindowsHistoryKeepsTheBytesSentOnce) {
    const std::vector<uint8_t> data = Pattern(kSize);
    const std::string expected = link::HexEcho(data.data(), data.size());
    EchoingLink link;
    app::HistoryModel history;

    const long long before = LiveHeapBytes();
    link.Send(data.data(), data.size());
    EXPECT_LE(LiveHeapBytes() - before, static_cast<long long>(kSize) + kSlack) << "recorded by the link";
    history.AddHistoryRow(link.TakeEcho());
    // The link still knows the echo it handed over last; the row shares it.
    EXPECT_LE(LiveHeapBytes() - before, static_cast<long long>(kSize) + kSlack) << "kept by the history";

    // The text made when asked for is the echo text of every byte.
    ASSERT_EQ(history.RowCount(), 1);
    EXPECT_EQ(history.Echo(0), expected);
    EXPECT_EQ(history.index(0, 1).data(Qt::DisplayRole).toString(),
              QString::fromLatin1(expected.data(), app::HistoryModel::kDisplayLimit) + QChar(0x2026));
    EXPECT_LE(LiveHeapBytes() - before, static_cast<long long>(kSize) + kSlack) << "after showing the row";
}

TEST(EchoMemory, TheCommandLineKeepsTheBytesSentOnceAndWithoutEchoNothing) {
    const std::vector<uint8_t> data = Pattern(kSize);
    EchoingLink link;
    std::ostringstream out;
    {
        app::cli::CliHistory history(out, false);
        const long long before = LiveHeapBytes();
        link.Send(data.data(), data.size());
        history.AddHistoryRow(link.TakeEcho());
        EXPECT_LE(LiveHeapBytes() - before, static_cast<long long>(kSize) + kSlack);
        ASSERT_EQ(history.Rows().size(), 1u);
        EXPECT_EQ(history.Rows()[0], link::HexEcho(data.data(), data.size()));
    }
    EXPECT_TRUE(out.str().empty());
}

// Counts the characters written to it and keeps none.
class CountingBuffer : public std::streambuf {
public:
    std::size_t count = 0;

protected:
    int_type overflow(int_type c) override {
        ++count;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override {
        count += static_cast<std::size_t>(n);
        return n;
    }
};

TEST(EchoMemory, WithoutAHistoryFileTheCommandLineKeepsNoRow) {
    std::ostringstream out;
    app::cli::CliHistory shown(out, /*echo=*/true, /*keepRows=*/false);
    shown.AddHistoryRow("1B 40 0A ");
    EXPECT_TRUE(shown.Rows().empty());
    EXPECT_EQ(out.str(), "1B 40 0A \tESC @ 0A \n");

    const std::vector<uint8_t> data = Pattern(kSize);
    EchoingLink link;
    link.Send(data.data(), data.size());
    const link::EchoRecord echo = link.TakeEcho();
    CountingBuffer counter;
    std::ostream counted(&counter);
    app::cli::CliHistory history(counted, /*echo=*/true, /*keepRows=*/false);
    const long long before = LiveHeapBytes();
    history.AddHistoryRow(echo);
    EXPECT_TRUE(history.Rows().empty());
    EXPECT_GT(counter.count, 3 * kSize);  // printed: the hex text, a tab, the reading
    EXPECT_LE(LiveHeapBytes() - before, kSlack);
}

}  // namespace
}  // namespace pellory
