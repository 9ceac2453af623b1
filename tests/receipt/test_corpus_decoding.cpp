// The decoding names, by the command table, every command of the receipt streams other software
// writes (../shared/escpos-corpus/, read where it lies) that the interpreter understands.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "protocol/command_splitter.h"
#include "protocol/command_table.h"
#include "receipt/decoding.h"

#ifndef PELLORY_ESCPOS_CORPUS
#error "PELLORY_ESCPOS_CORPUS names the folder of the streams"
#endif

namespace pellory::receipt {
namespace {

namespace fs = std::filesystem;
using protocol::kDle;
using protocol::kEsc;
using protocol::kFs;
using protocol::kGs;

// The commands the interpreter understood before the command table existed, by their introducers.
const std::vector<std::vector<uint8_t>>& UnderstoodIntroducers() {
    static const std::vector<std::vector<uint8_t>> all = [] {
        std::vector<std::vector<uint8_t>> v;
        for (const uint8_t b : {protocol::kHt, protocol::kLf, protocol::kFf, protocol::kCr, protocol::kCan}) v.push_back({b});
        for (const char f : std::string(" !$%&*-23=?@DEGJMQRV\\acdilmpt{")) v.push_back({kEsc, static_cast<uint8_t>(f)});
        for (const char f : std::string("!&-.CSVpqs")) v.push_back({kFs, static_cast<uint8_t>(f)});
        for (const char f : std::string("!*/BHLVWafhkrw")) v.push_back({kGs, static_cast<uint8_t>(f)});
        v.push_back({kGs, '(', 'k'});
        v.push_back({kGs, '(', 'E'});
        v.push_back({kGs, 'v', '0'});
        for (const uint8_t f : {protocol::kEot, protocol::kEnq, protocol::kDc4}) v.push_back({kDle, f});
        return v;
    }();
    return all;
}

bool StartsWithUnderstood(const std::vector<uint8_t>& bytes) {
    for (const std::vector<uint8_t>& in : UnderstoodIntroducers()) {
        if (bytes.size() >= in.size() && std::equal(in.begin(), in.end(), bytes.begin())) return true;
    }
    return false;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CorpusDecoding, EveryUnderstoodCommandIsNamedByItsEntry) {
    const fs::path root(PELLORY_ESCPOS_CORPUS);
    ASSERT_TRUE(fs::is_directory(root)) << root << " (the shared streams) is missing";
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file() && e.path().filename() != "README.md") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 40u);

    size_t understood = 0, others = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        const std::vector<uint8_t> stream = ReadFile(file);
        ASSERT_FALSE(stream.empty());
        const std::vector<DecodedCommand> commands = DecodeCommands(stream.data(), stream.size());
        size_t end = 0;
        for (const DecodedCommand& c : commands) {
            // The commands cover the stream, in order.
            EXPECT_EQ(c.offset, end);
            end = c.offset + StreamLength(c);
            if (c.text) continue;
            // The last command of a stream may be cut short: such a stream ends inside it.
            const bool complete = c.length > c.bytes.size()
                                      ? c.meaning.find("; incomplete") == std::string::npos
                                      : protocol::CommandLength(c.bytes.data(), c.bytes.size()) == c.bytes.size();
            if (!complete || !StartsWithUnderstood(c.bytes)) {
                ++others;
                continue;
            }
            ++understood;
            const protocol::CommandEntry* e = protocol::FindCommand(c.bytes.data(), c.bytes.size());
            ASSERT_NE(e, nullptr) << FormatDecoded(c);
            EXPECT_TRUE(e->understood()) << FormatDecoded(c);
            // A barcode of a system the printer does not have is the one command the decoding
            // cannot name, for its parameter.
            const bool unknownSystem = e->id == protocol::CommandId::Barcode && c.meaning.find("unknown system") != std::string::npos;
            EXPECT_TRUE(c.known || unknownSystem) << FormatDecoded(c);
            // Its mnemonic and meaning are the entry's (the decoding writes a function byte that is
            // a control byte or a space in hex: "DLE 04 01" for DLE EOT 1).
            const bool hexFunction = e->introducer.size > 1 && e->introducer.bytes[1] <= 0x20;
            if (!hexFunction) {
                EXPECT_EQ(c.mnemonic.rfind(std::string(e->mnemonic), 0), 0u) << FormatDecoded(c);
            }
            // GS ( k names its symbol instead ("QR code: print", "PDF417: columns 4").
            bool symbolWords = false;
            for (const char* name : {"QR code: ", "PDF417: ", "MaxiCode: ", "GS1 DataBar: ", "Composite: ", "Aztec: ", "DataMatrix: "}) {
                symbolWords = symbolWords || c.meaning.rfind(name, 0) == 0;
            }
            const bool ownWords = e->id == protocol::CommandId::Cut || (e->id == protocol::CommandId::Symbol2D && symbolWords);
            if (!ownWords) {
                EXPECT_EQ(c.meaning.rfind(std::string(e->meaning), 0), 0u) << FormatDecoded(c);
            }
        }
        EXPECT_EQ(end, stream.size());
    }
    // Most of what the streams hold is understood.
    EXPECT_GT(understood, 1000u);
    EXPECT_GT(understood, 2 * others) << understood << " understood, " << others << " not";
}

}  // namespace
}  // namespace pellory::receipt
