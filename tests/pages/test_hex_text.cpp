// Hex command text: written form, reading rules, hex command files, the hex-only input filter,
// the save-name rule and the text-mode wire form.
#include "pages/core/hex_text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_folder.h"

namespace ht = pellory::hextext;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::string Str(std::initializer_list<int> codes) {
  std::string s;
  for (int c : codes) s.push_back(static_cast<char>(c));
  return s;
}

// ---- Written form ---------------------------------------------------------------------------

TEST(HexFormat, EveryByteIsTwoUpperCaseDigitsAndASpace) {
  const Bytes b{0x00, 0x0F, 0x10, 0xFF};
  EXPECT_EQ(ht::FormatBytes(b.data(), b.size()), "00 0F 10 FF ");
  const Bytes esc{0x1B, 0x40};
  EXPECT_EQ(ht::FormatBytes(esc.data(), esc.size()), "1B 40 ");
  EXPECT_EQ(ht::FormatBytes(nullptr, 0), "");
  EXPECT_EQ(ht::FormatBytes(std::string_view()), "");
}

TEST(HexFormat, AllByteValuesMatchPrintf) {
  for (int v = 0; v < 256; ++v) {
    char expected[8];
    std::snprintf(expected, sizeof expected, "%02X ", v);
    const std::uint8_t b = static_cast<std::uint8_t>(v);
    EXPECT_EQ(ht::FormatBytes(&b, 1), expected) << v;
  }
}

TEST(HexFormat, CharactersAreTakenAsUnsignedAndLineBreaksArePairs) {
  EXPECT_EQ(ht::FormatBytes("AB"), "41 42 ");
  EXPECT_EQ(ht::FormatBytes(Str({0xE9, 0x80, 0x00, 0x7F})), "E9 80 00 7F ");
  EXPECT_EQ(ht::FormatBytes("A\r\nB"), "41 0D 0A 42 ");
  EXPECT_EQ(ht::FormatBytes("Hi").size(), 6u);  // Save in text mode of "Hi" writes six bytes
}

TEST(HexFormat, AppendKeepsWhatIsThere) {
  std::string field = "12 ";
  const Bytes b{0xAB, 0x00};
  ht::AppendFormattedBytes(field, b.data(), b.size());
  EXPECT_EQ(field, "12 AB 00 ");
  ht::AppendFormattedBytes(field, b.data(), 0);
  EXPECT_EQ(field, "12 AB 00 ");
}

TEST(HexFormat, FieldTextLineBreaksBecomeCrLfPairs) {
  EXPECT_EQ(ht::FieldTextToHex("AB\nC"), "41 42 0D 0A 43 ");
  EXPECT_EQ(ht::FieldTextToHex("AB\r\nC"), "41 42 0D 0A 43 ");
  EXPECT_EQ(ht::FieldTextToHex(""), "");
}

// ---- Reading rules ----------------------------------------------------------------------------

TEST(HexParse, ExamplesOfTheReadingRules) {
  EXPECT_EQ(ht::ParseHex("1B40"), (Bytes{0x1B, 0x40}));
  EXPECT_EQ(ht::ParseHex("1B 40"), (Bytes{0x1B, 0x40}));
  EXPECT_EQ(ht::ParseHex("123"), (Bytes{0x12, 0x03}));      // odd run split from its start
  EXPECT_EQ(ht::ParseHex("1 B"), (Bytes{0x01, 0x0B}));      // lone digit before a separator
  EXPECT_EQ(ht::ParseHex("1B 40 A"), (Bytes{0x1B, 0x40, 0x0A}));  // trailing lone digit
  EXPECT_EQ(ht::ParseHex("A"), (Bytes{0x0A}));
  EXPECT_EQ(ht::ParseHex("0d0A"), (Bytes{0x0D, 0x0A}));
  EXPECT_EQ(ht::ParseHex("1b40 0a"), (Bytes{0x1B, 0x40, 0x0A}));
  EXPECT_EQ(ht::ParseHex("fF Ff ff FF"), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(HexParse, SeparatorsAloneGiveNothing) {
  EXPECT_TRUE(ht::ParseHex("").empty());
  EXPECT_TRUE(ht::ParseHex(" ").empty());
  EXPECT_TRUE(ht::ParseHex(" \r\n\b \b\r\n  ").empty());
}

TEST(HexParse, EachSeparatorSplitsPairs) {
  for (char sep : {' ', '\r', '\n', '\b'}) {
    const std::string t = std::string("1") + sep + "B" + sep + sep + "40";
    EXPECT_EQ(ht::ParseHex(t), (Bytes{0x01, 0x0B, 0x40})) << int(sep);
  }
}

TEST(HexParse, SecondCharacterOfAPairIsConsumedWhateverItIs) {
  // "1G" reads the single leading digit; the G goes with it.
  EXPECT_EQ(ht::ParseHex("1G2"), (Bytes{0x01, 0x02}));
  // A tab is not a separator: "1\t" is a pair, then "40".
  EXPECT_EQ(ht::ParseHex("1\t40"), (Bytes{0x01, 0x40}));
  // "A\t4" : pair "A\t" gives 0A, then lone "4".
  EXPECT_EQ(ht::ParseHex("A\t4"), (Bytes{0x0A, 0x04}));
  // The second character of a pair is consumed even when it is a separator-like digit boundary.
  EXPECT_EQ(ht::ParseHex("1 2"), (Bytes{0x01, 0x02}));
}

TEST(HexParse, TabIsNotASeparator) {
  // A tab where a pair starts makes that pair a non-digit pair, which is dropped with the
  // character after it.
  EXPECT_EQ(ht::ParseHex("\t1B"), (Bytes{0x0B}));
  EXPECT_EQ(ht::ParseHex("1B\t40"), (Bytes{0x1B, 0x00}));
  EXPECT_EQ(ht::ParseHex("1B \t 40"), (Bytes{0x1B, 0x40}));  // "\t " dropped, then "40"
}

TEST(HexParse, PairNotStartingWithADigitYieldsNoByte) {
  EXPECT_TRUE(ht::ParseHex("G").empty());
  EXPECT_TRUE(ht::ParseHex("GG").empty());
  EXPECT_TRUE(ht::ParseHex("\t").empty());
  EXPECT_TRUE(ht::ParseHex("-1").empty());  // the "1" belongs to the dropped pair
  EXPECT_EQ(ht::ParseHex("1B,40"), (Bytes{0x1B, 0x00}));   // "1B" ",4" "0"
  EXPECT_EQ(ht::ParseHex("xx1B"), (Bytes{0x1B}));
  EXPECT_EQ(ht::ParseHex("x 1B"), (Bytes{0x1B}));          // "x " then "1B"
  EXPECT_EQ(ht::ParseHex("\t\t41"), (Bytes{0x41}));
  EXPECT_EQ(ht::ParseHex(Str({0xC0, 0x41, 0x42})), (Bytes{0x0B}));  // "\xC0A" dropped, "B"
  EXPECT_EQ(ht::ParseHex(Str({0x00, 0x31, 0x32})), (Bytes{0x02}));  // "\0" "1" dropped, "2"
}

TEST(HexParse, HexToCharactersStopsAtTheFirstZero) {
  EXPECT_EQ(ht::HexToCharacters("00 00 41"), "");
  EXPECT_EQ(ht::HexToCharacters("41 00 42"), "A");
  EXPECT_EQ(ht::HexToCharacters("41 42 "), "AB");
  EXPECT_EQ(ht::HexToCharacters("12 AB"), Str({0x12, 0xAB}));
  EXPECT_EQ(ht::HexToCharacters("41 0D 0A 43"), "A\r\nC");
  EXPECT_EQ(ht::HexToCharacters(""), "");
  const Bytes rx{0x41, 0x00, 0x42};
  EXPECT_EQ(ht::BytesToCharacters(rx.data(), rx.size()), "A");
  EXPECT_EQ(ht::BytesToCharacters(nullptr, 0), "");
}

TEST(HexParse, TransmitHexToggleRoundTrip) {
  // Checking the box on "AB" gives "41 42 ", unchecking gives "AB" again.
  const std::string hex = ht::FieldTextToHex("AB");
  EXPECT_EQ(hex, "41 42 ");
  EXPECT_EQ(ht::HexToCharacters(hex), "AB");
}

// ---- Text mode wire form ------------------------------------------------------------------------

TEST(WireBytes, LoneLineFeedsBecomeCrLf) {
  EXPECT_EQ(ht::TextToWireBytes("AB\nC"), "AB\r\nC");
  EXPECT_EQ(ht::TextToWireBytes("AB\r\nC"), "AB\r\nC");
  EXPECT_EQ(ht::TextToWireBytes("\n"), "\r\n");
  EXPECT_EQ(ht::TextToWireBytes("\n\n"), "\r\n\r\n");
  EXPECT_EQ(ht::TextToWireBytes("\r\n\n"), "\r\n\r\n");
  EXPECT_EQ(ht::TextToWireBytes("a\rb"), "a\rb");
  EXPECT_EQ(ht::TextToWireBytes("\r"), "\r");
  EXPECT_EQ(ht::TextToWireBytes(""), "");
  EXPECT_EQ(ht::TextToWireBytes(Str({0xE9, 0x0A, 0x00})), Str({0xE9, 0x0D, 0x0A, 0x00}));
}

// ---- Hex command files ----------------------------------------------------------------------------

TEST(HexFile, CommentsAndSpaceOnlyLinesAreSkipped) {
  const auto r = ht::ReadHexCommandLines({"1B 40 // initialise", "// only a comment", "0A"});
  EXPECT_EQ(r.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(r.content, "1B 40 \r\n0A\r\n");
  EXPECT_EQ(r.rejectedLine, 0u);

  const auto spaces = ht::ReadHexCommandLines({"    //", "    ", "", "//", "  1B  "});
  EXPECT_EQ(spaces.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(spaces.content, "  1B  \r\n");

  const auto none = ht::ReadHexCommandLines({});
  EXPECT_EQ(none.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(none.content, "");
}

TEST(HexFile, InnerCarriageReturnCountsAsNonSpace) {
  const auto r = ht::ReadHexCommandLines({"\r", "  \r  // x", "1B\r40"});
  EXPECT_EQ(r.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(r.content, "\r\r\n  \r  \r\n1B\r40\r\n");
  // A line handed over with a line feed inside (not from a file split) accepts it likewise.
  const auto lf = ht::ReadHexCommandLines({"1B\n40", " \n "});
  EXPECT_EQ(lf.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(lf.content, "1B\n40\r\n \n \r\n");
}

TEST(HexFile, AnyForeignCharacterBeforeTheCommentRejectsTheWholeFile) {
  const auto tab = ht::ReadHexCommandLines({"1B 40", "0A\t", "0A"});
  EXPECT_EQ(tab.status, ht::HexFileStatus::Rejected);
  EXPECT_EQ(tab.content, "");
  EXPECT_EQ(tab.rejectedLine, 2u);

  EXPECT_EQ(ht::ReadHexCommandLines({"1B G0 // x"}).status, ht::HexFileStatus::Rejected);
  EXPECT_EQ(ht::ReadHexCommandLines({"-1"}).status, ht::HexFileStatus::Rejected);
  EXPECT_EQ(ht::ReadHexCommandLines({"1B 40 /"}).status, ht::HexFileStatus::Rejected);  // lone '/'
  EXPECT_EQ(ht::ReadHexCommandLines({"1B\b"}).status, ht::HexFileStatus::Rejected);  // backspace
  EXPECT_EQ(ht::ReadHexCommandLines({Str({0x31, 0x00})}).status, ht::HexFileStatus::Rejected);
  for (int v = 0x80; v < 0x100; ++v) {
    EXPECT_EQ(ht::ReadHexCommandLines({"1B " + Str({v})}).status, ht::HexFileStatus::Rejected) << v;
  }
  // Also a tab on a line that would otherwise be space-only.
  EXPECT_EQ(ht::ReadHexCommandLines({" \t "}).status, ht::HexFileStatus::Rejected);
}

TEST(HexFile, NothingAfterTheCommentIsExamined) {
  const auto r = ht::ReadHexCommandLines({"1B 40 //G\t" + Str({0xFF}), "//\t", "0A//// x"});
  EXPECT_EQ(r.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(r.content, "1B 40 \r\n0A\r\n");
}

TEST(HexFile, DigitCountsAreNotChecked) {
  const auto r = ht::ReadHexCommandLines({"1B4"});
  EXPECT_EQ(r.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(r.content, "1B4\r\n");
  EXPECT_EQ(ht::ParseHex(r.content), (Bytes{0x1B, 0x04}));
}

TEST(HexFile, SplittingRemovesOnlyTheLineEnd) {
  EXPECT_EQ(ht::SplitTextLines(""), std::vector<std::string>{});
  EXPECT_EQ(ht::SplitTextLines("a"), std::vector<std::string>{"a"});
  EXPECT_EQ(ht::SplitTextLines("a\n"), std::vector<std::string>{"a"});
  EXPECT_EQ(ht::SplitTextLines("a\r\nb\r\n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ht::SplitTextLines("a\nb"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ht::SplitTextLines("\n\n"), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(ht::SplitTextLines("\r\n"), (std::vector<std::string>{""}));
  // Only the CR of the line end goes; others stay.
  EXPECT_EQ(ht::SplitTextLines("a\r\r\n"), (std::vector<std::string>{"a\r"}));
  EXPECT_EQ(ht::SplitTextLines("a\rb\r\n"), (std::vector<std::string>{"a\rb"}));
  EXPECT_EQ(ht::SplitTextLines("\r"), (std::vector<std::string>{"\r"}));
  EXPECT_EQ(ht::SplitTextLines("a\r"), (std::vector<std::string>{"a\r"}));  // no LF: not a line end
}

class HexFileOnDisk : public ::testing::Test {
 protected:
  std::filesystem::path Write(const std::string& name, const std::string& bytes) { return scratch_.Write(name, bytes); }
  const pellory::test::ScratchFolder scratch_{"pellory_hex_text"};
  const std::filesystem::path& dir_ = scratch_.path();
};

TEST_F(HexFileOnDisk, CrLfFileLoads) {
  const auto r = ht::ReadHexCommandFile(Write("a.txt", "1B 40 // init\r\n// c\r\n0A\r\n"));
  EXPECT_EQ(r.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(r.content, "1B 40 \r\n0A\r\n");
}

TEST_F(HexFileOnDisk, LfFileAndMissingFinalLineEndLoad) {
  const auto r = ht::ReadHexCommandFile(Write("b.txt", "1B 40\n0A"));
  EXPECT_EQ(r.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(r.content, "1B 40\r\n0A\r\n");
}

TEST_F(HexFileOnDisk, InnerCrIsKeptAndCountsAsContent) {
  const auto r = ht::ReadHexCommandFile(Write("c.txt", "   \r\r\n    //\r\n"));
  EXPECT_EQ(r.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(r.content, "   \r\r\n");
}

TEST_F(HexFileOnDisk, EmptyFileGivesEmptyContent) {
  const auto r = ht::ReadHexCommandFile(Write("empty.txt", ""));
  EXPECT_EQ(r.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(r.content, "");
}

TEST_F(HexFileOnDisk, RejectedIsDistinctFromCannotOpen) {
  const auto bad = ht::ReadHexCommandFile(Write("d.txt", "1B 40\r\n0A\t\r\n"));
  EXPECT_EQ(bad.status, ht::HexFileStatus::Rejected);
  EXPECT_EQ(bad.rejectedLine, 2u);
  EXPECT_EQ(bad.content, "");

  const auto missing = ht::ReadHexCommandFile(dir_ / "missing.txt");
  EXPECT_EQ(missing.status, ht::HexFileStatus::CannotOpen);
  const auto directory = ht::ReadHexCommandFile(dir_);
  EXPECT_EQ(directory.status, ht::HexFileStatus::CannotOpen);
}

TEST_F(HexFileOnDisk, LargeFileCrossingReadChunks) {
  std::string text;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {  // ~200 KB, several read chunks
    text += "1B 40 0A // row\r\n";
    expected += "1B 40 0A \r\n";
  }
  const auto r = ht::ReadHexCommandFile(Write("big.txt", text));
  EXPECT_EQ(r.status, ht::HexFileStatus::Loaded);
  EXPECT_EQ(r.content, expected);
}

// A file of `size` bytes that takes no room on disk: all of them zero, which no hex command file
// may hold.
std::filesystem::path SparseFile(const std::filesystem::path& path, std::uintmax_t size) {
  std::ofstream(path, std::ios::binary).flush();
  std::filesystem::resize_file(path, size);
  return path;
}

TEST_F(HexFileOnDisk, AFilePastTheSizeLimitIsRefusedWhateverItHolds) {
  // At the limit the file is read and judged by its lines (the zeros break them) ...
  const auto atLimit = ht::ReadHexCommandFile(SparseFile(dir_ / "at.txt", ht::kHexFileSizeLimit));
  EXPECT_EQ(atLimit.status, ht::HexFileStatus::Rejected);
  EXPECT_EQ(atLimit.rejectedLine, 1u);
  // ... one byte more and it is refused for its size.
  const auto past = ht::ReadHexCommandFile(SparseFile(dir_ / "past.txt", ht::kHexFileSizeLimit + 1));
  EXPECT_EQ(past.status, ht::HexFileStatus::TooLarge);
  EXPECT_EQ(past.content, "");
  EXPECT_EQ(ht::kHexFileSizeLimit, 64u * 1024 * 1024);
}

TEST_F(HexFileOnDisk, AnEndlessSourceIsReadNoFurtherThanTheLimit) {
  // A pipe that a writer keeps filling with valid lines, more than the limit in all; it stops
  // early when the reader has gone.
  std::signal(SIGPIPE, SIG_IGN);
  const std::filesystem::path fifo = dir_ / "endless.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::size_t offered = ht::kHexFileSizeLimit + 16 * 1024 * 1024;
  std::size_t written = 0;
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    std::string block;
    while (block.size() < 60000) block += "1B 40 0A\r\n";
    while (written < offered) {
      const ssize_t n = ::write(fd, block.data(), block.size());
      if (n <= 0) break;  // EPIPE: nobody reads any more
      written += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });
  const auto r = ht::ReadHexCommandFile(fifo);
  writer.join();
  EXPECT_EQ(r.status, ht::HexFileStatus::TooLarge);
  // What the reader left in the pipe and one block of the writer's at most came after the limit.
  EXPECT_LE(written, ht::kHexFileSizeLimit + 2 * 1024 * 1024);
}

TEST(HexFile, MessageTexts) {
  EXPECT_EQ(ht::kFileRejectedMessage,
            "The contents of the file does not meet the hex command mode, the import operation is "
            "canceled");
  EXPECT_EQ(ht::kFileRejectedCaption, "Note");
}

// ---- Input filter -----------------------------------------------------------------------------------

TEST(HexInputFilter, DigitsAndEditingKeysPassEverythingElseIsDropped) {
  for (char32_t c : {U'7', U'c', U'E', U'0', U'9', U'a', U'f', U'A', U'F'}) {
    EXPECT_TRUE(ht::IsHexModeInputAllowed(c)) << static_cast<int>(c);
  }
  for (char32_t c : {U' ', U'\b', U'\n', U'\r', char32_t{0x03}, char32_t{0x16}, char32_t{0x18},
                     char32_t{0x1A}, char32_t{0x19}}) {
    EXPECT_TRUE(ht::IsHexModeInputAllowed(c)) << static_cast<int>(c);
  }
  for (char32_t c : {U'g', U'x', U'\t', U'-', U'G', U'/', U':', U'@', U'`', char32_t{0},
                     char32_t{0x01}, char32_t{0x1B}, char32_t{0x7F}, char32_t{0xE9},
                     char32_t{0x130}, char32_t{0xFF10} /* full-width 0 */, char32_t{0x10041},
                     char32_t{0x100 + '1'}}) {
    EXPECT_FALSE(ht::IsHexModeInputAllowed(c)) << static_cast<int>(c);
  }
  int allowed = 0;
  for (char32_t c = 0; c < 0x110000; ++c) allowed += ht::IsHexModeInputAllowed(c) ? 1 : 0;
  EXPECT_EQ(allowed, 22 + 9);
}

// ---- Save names ---------------------------------------------------------------------------------------

TEST(TxtExtension, AppendedUnlessTheNameEndsInTxt) {
  EXPECT_EQ(ht::AppendTxtExtension("report.TXT"), "report.TXT");
  EXPECT_EQ(ht::AppendTxtExtension("report.txt"), "report.txt");
  EXPECT_EQ(ht::AppendTxtExtension("report.Txt"), "report.Txt");
  EXPECT_EQ(ht::AppendTxtExtension("report.dat"), "report.dat.txt");
  EXPECT_EQ(ht::AppendTxtExtension("cmds.hex"), "cmds.hex.txt");
  EXPECT_EQ(ht::AppendTxtExtension("report"), "report.txt");
  EXPECT_EQ(ht::AppendTxtExtension("/home/u/report"), "/home/u/report.txt");
  EXPECT_EQ(ht::AppendTxtExtension("/home/u/report.tx"), "/home/u/report.tx.txt");
  EXPECT_EQ(ht::AppendTxtExtension("/home/u/report.txts"), "/home/u/report.txts.txt");
  EXPECT_EQ(ht::AppendTxtExtension("/home/u/a.txt.bak"), "/home/u/a.txt.bak.txt");
  EXPECT_EQ(ht::AppendTxtExtension("/home/u/a.bak.TXT"), "/home/u/a.bak.TXT");
}

TEST(TxtExtension, DotsInDirectoriesDoNotCount) {
  EXPECT_EQ(ht::AppendTxtExtension("/data/v1.txt/report"), "/data/v1.txt/report.txt");
  EXPECT_EQ(ht::AppendTxtExtension("./report"), "./report.txt");
  EXPECT_EQ(ht::AppendTxtExtension("../x/report"), "../x/report.txt");
  EXPECT_EQ(ht::AppendTxtExtension("/data/v1.txt/r.txt"), "/data/v1.txt/r.txt");
  EXPECT_EQ(ht::AppendTxtExtension("report."), "report..txt");
  EXPECT_EQ(ht::AppendTxtExtension(""), ".txt");
}

// ---- Randomized properties ----------------------------------------------------------------------------

std::string RandomBytes(std::mt19937& rng, std::size_t maxLen) {
  std::uniform_int_distribution<std::size_t> len(0, maxLen);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string s(len(rng), '\0');
  for (char& c : s) c = static_cast<char>(byte(rng));
  return s;
}

// Text drawn mostly from the characters that matter to the reader.
std::string RandomHexishText(std::mt19937& rng, std::size_t maxLen) {
  static constexpr char kAlphabet[] = "0123456789abcdefABCDEF \r\n\b\tGg/-\xff";
  std::uniform_int_distribution<std::size_t> len(0, maxLen);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
  std::string s(len(rng), '\0');
  for (char& c : s) c = kAlphabet[pick(rng)];
  return s;
}

TEST(HexProperties, FormatThenParseIsTheIdentity) {
  std::mt19937 rng(20240607u);
  for (int i = 0; i < 5000; ++i) {
    const std::string s = RandomBytes(rng, 64);
    const Bytes expected(s.begin(), s.end());
    const std::string text = ht::FormatBytes(s);
    ASSERT_EQ(text.size(), 3 * s.size());
    ASSERT_EQ(ht::ParseHex(text), expected) << text;
    // Without the spaces the pairs still read back the same, and so in lower case.
    std::string packed;
    for (std::size_t k = 0; k < text.size(); k += 3) {
      packed.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(text[k]))));
      packed.push_back(text[k + 1]);
    }
    ASSERT_EQ(ht::ParseHex(packed), expected) << packed;
  }
}

TEST(HexProperties, ParsingArbitraryTextIsBoundedAndStable) {
  std::mt19937 rng(77u);
  for (int i = 0; i < 5000; ++i) {
    const std::string s = (i % 2) ? RandomBytes(rng, 96) : RandomHexishText(rng, 96);
    const Bytes bytes = ht::ParseHex(s);
    ASSERT_LE(bytes.size(), (s.size() + 1) / 2);
    // Reading the written form of the result gives the same bytes again.
    ASSERT_EQ(ht::ParseHex(ht::FormatBytes(bytes.data(), bytes.size())), bytes);
    // The character form never holds a zero and is a prefix of the parsed bytes.
    const std::string chars = ht::HexToCharacters(s);
    ASSERT_EQ(chars.find('\0'), std::string::npos);
    ASSERT_LE(chars.size(), bytes.size());
    ASSERT_TRUE(std::equal(chars.begin(), chars.end(), bytes.begin(),
                           [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }));
    if (chars.size() < bytes.size()) {
      ASSERT_EQ(bytes[chars.size()], 0);
    }
  }
}

TEST(HexProperties, WireBytesHaveNoLoneLineFeedAndDropBackToTheText) {
  std::mt19937 rng(5u);
  for (int i = 0; i < 3000; ++i) {
    const std::string s = RandomHexishText(rng, 40);
    const std::string wire = ht::TextToWireBytes(s);
    for (std::size_t k = 0; k < wire.size(); ++k) {
      if (wire[k] == '\n') {
        ASSERT_TRUE(k > 0 && wire[k - 1] == '\r') << k;
      }
    }
    // Removing each CR that directly precedes an LF from both sides gives the same text.
    auto stripCrLf = [](const std::string& t) {
      std::string out;
      for (std::size_t k = 0; k < t.size(); ++k) {
        if (t[k] == '\r' && k + 1 < t.size() && t[k + 1] == '\n') continue;
        out.push_back(t[k]);
      }
      return out;
    };
    ASSERT_EQ(stripCrLf(wire), stripCrLf(s));
    ASSERT_EQ(ht::TextToWireBytes(wire), wire);  // already in wire form
  }
}

TEST(HexProperties, ReloadingLoadedContentGivesTheSameContent) {
  // Files made of the characters a valid file holds, with comments that may hold anything.
  static constexpr const char* kTokens[] = {"1", "b", "F", "0", " ", "  ", "\r", "\n", "\r\n",
                                            "//", "\t", "G", "/"};
  std::mt19937 rng(99u);
  std::uniform_int_distribution<std::size_t> count(0, 40);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kTokens) - 1);
  int loaded = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string file;
    for (std::size_t k = count(rng); k > 0; --k) file += kTokens[pick(rng)];
    const auto first = ht::ReadHexCommandLines(ht::SplitTextLines(file));
    // Reading the file's bytes line by line gives the same.
    const auto direct = ht::ReadHexCommandText(file);
    ASSERT_EQ(direct.status, first.status) << file;
    ASSERT_EQ(direct.content, first.content) << file;
    ASSERT_EQ(direct.rejectedLine, first.rejectedLine) << file;
    if (first.status != ht::HexFileStatus::Loaded) {
      ASSERT_EQ(first.status, ht::HexFileStatus::Rejected);
      ASSERT_GT(first.rejectedLine, 0u);
      ASSERT_TRUE(first.content.empty());
      continue;
    }
    ++loaded;
    // Every kept line ends in CR LF and holds no comment.
    ASSERT_TRUE(first.content.empty() || first.content.ends_with("\r\n"));
    ASSERT_EQ(first.content.find("//"), std::string::npos);
    const auto again = ht::ReadHexCommandLines(ht::SplitTextLines(first.content));
    ASSERT_EQ(again.status, ht::HexFileStatus::Loaded);
    ASSERT_EQ(again.content, first.content);
  }
  EXPECT_GT(loaded, 300);  // the property was exercised on a fair share of accepted files
}

}  // namespace
