// Every entry's length rule agrees with what the interpreter takes of the command: commands of
// every entry, built with random parameters by a generator of this test's own, followed by a line
// feed, are each taken whole by the interpreter (and the splitter), no byte more or less.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "protocol/command_splitter.h"
#include "protocol/command_table.h"
#include "receipt/command_decoder.h"
#include "receipt/interpreter.h"

namespace pellory::receipt {
namespace {

using protocol::CommandEntry;
using protocol::Rule;
using Bytes = std::vector<uint8_t>;

class Builder {
public:
    explicit Builder(uint32_t seed) : rng_(seed) {}

    // A command of the entry with random parameters, as long as its rule says.
    Bytes Make(const CommandEntry& e) {
        Bytes b(e.introducer.bytes.begin(), e.introducer.bytes.begin() + e.introducer.size);
        const uint16_t head = e.length.head;
        switch (e.length.rule) {
            case Rule::Fixed:
                Fill(b, head - b.size());
                break;
            case Rule::ZeroTerminated: {
                Fill(b, head - b.size());
                const size_t data = Upto(e.length.limit);
                for (size_t i = 0; i < data; ++i) b.push_back(NonZero());
                // A full field may end without its zero byte: the command ends at the bound.
                if (data < e.length.limit || Chance(2)) b.push_back(0);
                break;
            }
            case Rule::Prefix16: {
                Fill(b, head - 2 - b.size());
                const size_t n = Chance(20) ? 60000 + Upto(5535) : Upto(300);
                Word(b, n);
                Fill(b, n);
                break;
            }
            case Rule::Prefix32: {
                Fill(b, head - 4 - b.size());
                const size_t n = BigOne(10) ? 70000 + Upto(100000) : Upto(300);
                Word(b, n & 0xFFFF);
                Word(b, n >> 16);
                Fill(b, n);
                break;
            }
            case Rule::BitImage: {
                // Modes the printer does not name are read by bits 5 and 4: 109 as 33 (24 dots).
                const uint8_t m = Pick({0, 1, 32, 33, 2, 48, 109});
                const size_t columns = Upto(700);
                b.push_back(m);
                Word(b, columns);
                Fill(b, columns * ((m == 32 || m == 33 || m == 109) ? 3 : 1));
                break;
            }
            case Rule::DownloadedImage: {
                const uint8_t x = static_cast<uint8_t>(Upto(20)), y = static_cast<uint8_t>(Upto(20));
                b.push_back(x);
                b.push_back(y);
                Fill(b, size_t{x} * y * 8);
                break;
            }
            case Rule::RasterImage: {
                const bool big = BigOne(10);
                const size_t x = big ? 40 + Upto(40) : Upto(80), y = big ? 1000 + Upto(1000) : Upto(100);
                b.push_back(Pick({0, 1, 2, 3, 48, 51}));
                Word(b, x);
                Word(b, y);
                Fill(b, x * y);
                break;
            }
            case Rule::StoredImages: {
                const size_t images = first_ ? 1 + Upto(2) : Upto(3);
                b.push_back(static_cast<uint8_t>(images));
                for (size_t i = 0; i < images; ++i) {
                    const bool big = BigOne(10);  // past what the interpreter holds whole
                    const size_t x = big ? 1000 + Upto(1000) : Upto(4), y = big ? 10 + Upto(10) : Upto(10);
                    Word(b, x);
                    Word(b, y);
                    Fill(b, x * y * 8);
                }
                break;
            }
            case Rule::UserCharacters: {
                // Out of range (y, or a code): the head alone, what follows is print data.
                if (Chance(10)) {
                    b.insert(b.end(), {Pick({0, 4, 200}), 65, 70});
                    break;
                }
                if (Chance(10)) {
                    b.insert(b.end(), {3, Pick({0, 31, 100}), Pick({127, 200})});
                    break;
                }
                const uint8_t y = static_cast<uint8_t>(1 + Upto(2));
                const uint8_t c1 = static_cast<uint8_t>(32 + Upto(89));
                const uint8_t c2 = static_cast<uint8_t>(Chance(8) ? c1 - 1 : c1 + Upto(5));  // c2 < c1: none
                b.insert(b.end(), {y, c1, c2});
                for (int c = c1; c <= c2; ++c) {
                    if (Chance(20)) {  // x out of range: the command ends with it
                        b.push_back(Pick({13, 100, 255}));
                        break;
                    }
                    const uint8_t x = static_cast<uint8_t>(Upto(12));
                    b.push_back(x);
                    Fill(b, size_t{y} * x);
                }
                break;
            }
            case Rule::TableRow: {
                const uint8_t k = static_cast<uint8_t>(Upto(6));
                b.push_back(k);
                for (uint8_t i = 0; i < k; ++i) b.push_back(static_cast<uint8_t>(Upto(40)));
                const uint8_t cells = static_cast<uint8_t>(Upto(5));
                b.push_back(cells);
                for (uint8_t i = 0; i < cells; ++i) b.push_back(static_cast<uint8_t>(Upto(40)));
                for (uint8_t i = 0; i < cells; ++i) {
                    b.push_back(Pick({1, 2}));
                    const size_t text = Chance(10) ? e.length.limit : Upto(20);
                    for (size_t t = 0; t < text; ++t) b.push_back(static_cast<uint8_t>('a' + Upto(25)));
                    if (text < e.length.limit || Chance(2)) b.push_back(0);
                }
                break;
            }
            case Rule::Cut: {
                const uint8_t m = Pick({0, 1, 48, 49, 65, 66, 97, 98, 103, 104});
                b.push_back(m);
                if (m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104) b.push_back(Byte());
                break;
            }
            case Rule::Barcode: {
                const uint8_t m = Pick({0, 2, 4, 6, 65, 67, 69, 73, 20, 90});
                b.push_back(m);
                const size_t data = m >= 65 ? Upto(255) : Upto(e.length.limit);
                if (m >= 65) b.push_back(static_cast<uint8_t>(data));
                for (size_t i = 0; i < data; ++i) b.push_back(static_cast<uint8_t>('0' + Upto(9)));
                if (m < 65 && (data < e.length.limit || Chance(2))) b.push_back(0);
                break;
            }
            case Rule::RealTimeFunction: {
                const uint8_t fn = Pick({1, 2, 3, 7, 8, 0, 4, 9, 200});
                b.push_back(fn);
                Fill(b, fn == 1 || fn == 2 ? 2 : fn == 3 ? 5 : fn == 7 ? 1 : fn == 8 ? 7 : 0);
                break;
            }
            case Rule::PageArea: {
                // ESC W n of the Star and ESC/P printers: n, and the line feed after it tells it.
                if (Chance(3)) {
                    b.push_back(Pick({0, 1, 48, 49}));
                    break;
                }
                const uint8_t xL = Byte();
                b.push_back(xL);
                const bool likeN = xL == 0 || xL == 1 || xL == 48 || xL == 49;
                b.push_back(likeN ? static_cast<uint8_t>(Upto(7)) : Byte());
                Fill(b, head - b.size());
                break;
            }
            case Rule::Unsized:
                break;  // the introducer alone
        }
        first_ = false;
        return b;
    }

private:
    size_t Upto(size_t n) { return std::uniform_int_distribution<size_t>(0, n)(rng_); }
    bool Chance(unsigned oneIn) { return Upto(oneIn - 1) == 0; }
    // A long one, by chance, and always the first command of each entry (so every stream has one,
    // whatever the seed).
    bool BigOne(unsigned oneIn) { return first_ || Chance(oneIn); }
    uint8_t Byte() { return static_cast<uint8_t>(Upto(255)); }
    uint8_t NonZero() { return static_cast<uint8_t>(1 + Upto(254)); }
    uint8_t Pick(std::initializer_list<uint8_t> values) { return *(values.begin() + Upto(values.size() - 1)); }
    void Fill(Bytes& b, size_t n) {
        for (size_t i = 0; i < n; ++i) b.push_back(Byte());
    }
    static void Word(Bytes& b, size_t v) {
        b.push_back(static_cast<uint8_t>(v & 0xFF));
        b.push_back(static_cast<uint8_t>(v >> 8 & 0xFF));
    }

    std::mt19937 rng_;
    bool first_ = true;
};

// The commands, each followed by a line feed, as one stream; and where each begins.
struct Stream {
    Bytes bytes;
    std::vector<size_t> starts;  // of the commands; the line feed after each at the next length
    std::vector<size_t> lengths;
};

TEST(LengthRules, EveryEntryIsTakenAsLongAsItsRuleSays) {
    constexpr int kCommandsPerEntry = 60;
    for (const CommandEntry& e : protocol::CommandTable()) {
        SCOPED_TRACE(std::string(e.mnemonic));
        Builder builder(static_cast<uint32_t>(e.id) * 7919u + 1u);
        Stream s;
        for (int i = 0; i < kCommandsPerEntry; ++i) {
            const Bytes c = builder.Make(e);
            s.starts.push_back(s.bytes.size());
            s.lengths.push_back(c.size());
            s.bytes.insert(s.bytes.end(), c.begin(), c.end());
            s.bytes.push_back(protocol::kLf);
        }
        // The splitter, from the table.
        for (size_t i = 0; i < s.starts.size(); ++i) {
            ASSERT_EQ(protocol::CommandLength(s.bytes.data() + s.starts[i], s.bytes.size() - s.starts[i]), s.lengths[i])
                << "command " << i;
        }
        // The interpreter, drawing and decoding, in pieces of a few sizes: every command is
        // handed to the decoding where it begins, as long as it is, and the line feed after it.
        for (const size_t piece : {size_t{7}, size_t{4096}, size_t{1} << 20}) {
            Interpreter drawing(kOrva80Dots);
            CommandDecoder decoding;
            const auto read = [&](auto& interpreter) {
                std::vector<DecodedCommand> decoded;
                interpreter.setDecodeSink([&](const DecodedCommand& c) { decoded.push_back(c); });
                for (size_t at = 0; at < s.bytes.size(); at += piece) {
                    interpreter.feed(s.bytes.data() + at, std::min(piece, s.bytes.size() - at));
                }
                interpreter.finish();
                ASSERT_EQ(decoded.size(), 2 * s.starts.size()) << "pieces of " << piece;
                for (size_t i = 0; i < s.starts.size(); ++i) {
                    const DecodedCommand& c = decoded[2 * i];
                    const DecodedCommand& lf = decoded[2 * i + 1];
                    ASSERT_EQ(c.offset, s.starts[i]) << "command " << i << ", pieces of " << piece;
                    ASSERT_EQ(StreamLength(c), s.lengths[i]) << FormatDecoded(c) << ", pieces of " << piece;
                    ASSERT_EQ(lf.offset, s.starts[i] + s.lengths[i]) << FormatDecoded(lf);
                    ASSERT_EQ(lf.bytes, Bytes{protocol::kLf}) << FormatDecoded(lf);
                }
                EXPECT_EQ(interpreter.bytesFed(), s.bytes.size());
                // The images too long to hold are taken piece by piece (LongCommand), on their own
                // reading of the lengths: some of them here are.
                if (e.length.rule == Rule::RasterImage || e.length.rule == Rule::Prefix32 ||
                    e.length.rule == Rule::StoredImages) {
                    size_t taken = 0;
                    for (const DecodedCommand& c : decoded) taken += c.length > c.bytes.size() ? 1 : 0;
                    EXPECT_GT(taken, 0u) << "pieces of " << piece;
                }
            };
            read(drawing);
            read(decoding);
        }
    }
}

}  // namespace
}  // namespace pellory::receipt
