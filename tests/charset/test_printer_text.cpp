// Text to the printer's bytes and back under a character state: refusals, international sets,
// the Chinese mode, display text and the byte stream that follows the state commands.
#include <gtest/gtest.h>

#include "charset/printer_record.h"
#include "charset/printer_text.h"

namespace pellory::charset {
namespace {

using Bytes = std::vector<uint8_t>;

PrinterState Table(CodeTable t) { return {t, 0, false}; }

TEST(Encode, TextAsThePrinterPrintsIt) {
    const EncodeResult cafe = EncodeUtf8("caf\u00E9", Table(CodeTable::PC437));
    ASSERT_TRUE(cafe.ok());
    EXPECT_EQ(cafe.bytes, (Bytes{0x63, 0x61, 0x66, 0x82}));
    const EncodeResult total = EncodeUtf8("Total \u20AC5 caf\u00E9", Table(CodeTable::PC858));
    ASSERT_TRUE(total.ok());
    EXPECT_EQ(total.bytes, (Bytes{0x54, 0x6F, 0x74, 0x61, 0x6C, 0x20, 0xD5, 0x35, 0x20, 0x63, 0x61, 0x66, 0x82}));
    const EncodeResult russian = EncodeUtf8("\u0410\u044F", Table(CodeTable::PC866));
    ASSERT_TRUE(russian.ok());
    EXPECT_EQ(russian.bytes, (Bytes{0x80, 0xEF}));
    const EncodeResult kana = EncodeUtf8("\uFF71\uFF72", Table(CodeTable::Katakana));
    ASSERT_TRUE(kana.ok());
    EXPECT_EQ(kana.bytes, (Bytes{0xB1, 0xB2}));
    // Control characters and line breaks go as themselves.
    const EncodeResult lines = EncodeUtf8("a\r\n\x1B", Table(CodeTable::WPC1252));
    ASSERT_TRUE(lines.ok());
    EXPECT_EQ(lines.bytes, (Bytes{0x61, 0x0D, 0x0A, 0x1B}));
}

TEST(Encode, RefusalNamesTheCharacterAndItsPosition) {
    const EncodeResult r = EncodeUtf8("Total \u20AC5 \u2014 caf\u00E9", Table(CodeTable::PC858));
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_EQ(r.refusal->character, U'\u2014');
    EXPECT_EQ(r.refusal->position, 10u);
    EXPECT_EQ(r.refusal->message, "\"\u2014\" (U+2014) at position 10 cannot be printed with PC858(Euro).");
    // The euro is not in PC437; Page 255 has no upper half at all.
    const EncodeResult euro = EncodeUtf8("5\u20AC", Table(CodeTable::PC437));
    ASSERT_FALSE(euro.ok());
    EXPECT_EQ(euro.refusal->position, 2u);
    EXPECT_NE(euro.refusal->message.find("PC437(U.S.A)"), std::string::npos);
    const EncodeResult page = EncodeUtf8("\u00E9", Table(CodeTable::Page255));
    ASSERT_FALSE(page.ok());
    EXPECT_EQ(page.refusal->message, "\"\u00E9\" (U+00E9) at position 1 cannot be printed with Page 255.");
    // A control character is named by its code.
    const EncodeResult c1 = EncodeUtf8("\u0085", Table(CodeTable::PC437));
    ASSERT_FALSE(c1.ok());
    EXPECT_EQ(c1.refusal->message, "the character U+0085 at position 1 cannot be printed with PC437(U.S.A).");
    // Text that is not UTF-8 is refused too, never guessed.
    const EncodeResult bad = EncodeUtf8("ab\xE9z", Table(CodeTable::PC437));
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.refusal->position, 3u);
    EXPECT_EQ(bad.refusal->message, "The text is not UTF-8: byte E9 at position 3 starts no character.");
}

TEST(Encode, InternationalSetMovesItsTwelveCharacters) {
    const PrinterState france{CodeTable::PC437, 1, false};
    EXPECT_EQ(EncodeUtf8("\u00E0", france).bytes, Bytes{0x40});
    // "@" has no place under France: its position shows à, and PC437 has no "@" above 0x80.
    const EncodeResult at = EncodeUtf8("a@b", france);
    ASSERT_FALSE(at.ok());
    EXPECT_EQ(at.refusal->position, 2u);
    EXPECT_EQ(at.refusal->message,
              "\"@\" (U+0040) at position 2 cannot be printed with PC437(U.S.A) and the character set France.");
    const PrinterState japan{CodeTable::PC437, 8, false};
    EXPECT_EQ(EncodeUtf8("\u00A5", japan).bytes, Bytes{0x5C});
    EXPECT_FALSE(EncodeUtf8("\\", japan).ok());
    const PrinterState uk{CodeTable::PC437, 3, false};
    EXPECT_EQ(EncodeUtf8("\u00A3", uk).bytes, Bytes{0x23});
    const DecodeResult d = Decode(std::string("\x40\x5C\x7E"), PrinterState{CodeTable::PC437, 2, false});
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d.text, U"\u00A7\u00D6\u00DF");  // Germany: § Ö ß
}

TEST(Kanji, TwoByteCodesOnly) {
    const PrinterState kanji{CodeTable::PC437, 0, true};
    const EncodeResult zh = EncodeUtf8("A\u4E2D\u6587", kanji);
    ASSERT_TRUE(zh.ok());
    EXPECT_EQ(zh.bytes, (Bytes{0x41, 0xD6, 0xD0, 0xCE, 0xC4}));
    const EncodeResult four = EncodeUtf8("\u4E2D\U0001F600", kanji);
    ASSERT_FALSE(four.ok());
    EXPECT_EQ(four.refusal->position, 2u);
    EXPECT_EQ(four.refusal->message,
              "\"\U0001F600\" (U+1F600) at position 2 has no two-byte code in GB18030 (Kanji Mode); the printer "
              "takes no four-byte codes.");
    const DecodeResult d = Decode(std::string("A\xD6\xD0"), kanji);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d.text, U"A\u4E2D");
    // A lead byte without its trail, a four-byte code, and 0x80 do not decode.
    const DecodeResult cut = Decode(std::string("AB\xD6"), kanji);
    ASSERT_FALSE(cut.ok());
    EXPECT_EQ(cut.refusal->offset, 2u);
    EXPECT_EQ(cut.refusal->message, "Byte D6 at offset 2 is not a character of GB18030 (Kanji Mode).");
    const DecodeResult fourBytes = Decode(std::string("\xD6\xD0\x81\x30\x89\x38"), kanji);
    ASSERT_FALSE(fourBytes.ok());
    EXPECT_EQ(fourBytes.refusal->offset, 2u);
    EXPECT_FALSE(Decode(std::string("\x80"), kanji).ok());
}

TEST(Decode, StopsAtTheFirstByteWithoutCharacter) {
    const DecodeResult ok = Decode(std::string("caf\x82"), Table(CodeTable::PC437));
    ASSERT_TRUE(ok.ok());
    EXPECT_EQ(ToUtf8(ok.text), "caf\u00E9");
    const DecodeResult gap = Decode(std::string("\x80\x81"), Table(CodeTable::WPC1252));
    ASSERT_FALSE(gap.ok());
    EXPECT_EQ(gap.refusal->offset, 1u);
    EXPECT_EQ(gap.refusal->byte, 0x81);
    EXPECT_TRUE(gap.text.empty());
    EXPECT_EQ(DisplayText(reinterpret_cast<const uint8_t*>("a\x80\xFF"), 3, Table(CodeTable::Page255)),
              "a\\x80\\xFF");
    EXPECT_EQ(DisplayText(reinterpret_cast<const uint8_t*>("\x80\x81"), 2, Table(CodeTable::WPC1252)),
              "\u20AC\\x81");
    EXPECT_EQ(DisplayText(reinterpret_cast<const uint8_t*>("\xD6\xD0\xD6"), 3, PrinterState{CodeTable::PC437, 0, true}),
              "\u4E2D\\xD6");
}

TEST(StreamDecoder, FollowsTheStateCommandsAndWaitsForTrailBytes) {
    StreamDecoder d(PrinterState{}, true);
    std::string shown;
    auto feed = [&](std::initializer_list<int> bytes) {
        for (int b : bytes) {
            for (const auto& p : d.Feed(static_cast<uint8_t>(b))) {
                if (p.kind == StreamDecoder::Piece::Kind::Character) AppendUtf8(shown, p.character);
                if (p.kind == StreamDecoder::Piece::Kind::Unknown) {
                    for (uint8_t u : p.unknownBytes) AppendHexEscape(shown, u);
                }
            }
        }
    };
    feed({0x82, 0x1B, 't', 0x10, 0x80});  // PC437 é, then WPC1252 €
    EXPECT_EQ(shown, "\u00E9\u20AC");
    EXPECT_EQ(d.State().table, CodeTable::WPC1252);
    shown.clear();
    feed({0x1B, 'R', 8, 0x5C, 0x1C, '&', 0xD6});  // Japan ¥, Chinese mode, a lead byte
    EXPECT_EQ(shown, "\u00A5");
    feed({0xD0, 0x1C, '.', 0x80});  // its trail; Chinese mode off: WPC1252 again
    EXPECT_EQ(shown, "\u00A5\u4E2D\u20AC");
    EXPECT_FALSE(d.State().kanji);
    shown.clear();
    // ESC followed by anything else shows both bytes; an unknown code table changes nothing.
    feed({0x1B, 'a', 0x1B, 't', 0x07, 0x80});
    EXPECT_EQ(shown, "\x1B" "a\u20AC");
    // A lead byte followed by a byte that cannot trail it: the lead is unknown, the byte itself.
    shown.clear();
    feed({0x1C, '&', 0xD6, '\n'});
    EXPECT_EQ(shown, "\\xD6\n");
    // Without following commands the bytes of ESC t are characters.
    StreamDecoder plain(PrinterState{}, false);
    EXPECT_EQ(plain.Feed(0x1B).size(), 1u);
    EXPECT_EQ(plain.Feed('t').at(0).character, U't');
    EXPECT_EQ(plain.State().table, CodeTable::PC437);
}

TEST(PrinterRecord, StartsAtPc437UsaOffAndKeepsTheLastChoice) {
    ResetPrinterRecord();
    EXPECT_EQ(LastPrinterState(), PrinterState{});
    EXPECT_FALSE(PrinterCharactersShown());
    RecordCodeTable(CodeTable::PC858);
    RecordInternationalSet(8);
    RecordInternationalSet(40);  // no such set: kept as it was
    RecordKanji(true);
    ShowPrinterCharacters(true);
    EXPECT_EQ(LastPrinterState(), (PrinterState{CodeTable::PC858, 8, true}));
    EXPECT_TRUE(PrinterCharactersShown());
    ResetPrinterRecord();
    EXPECT_EQ(LastPrinterState(), PrinterState{});
}

}  // namespace
}  // namespace pellory::charset
