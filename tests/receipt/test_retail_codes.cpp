// EAN-8, EAN-13, UPC-A and UPC-E in every form GS k takes them: with or without their check
// digit, UPC-E also by its number system and in its UPC-A form. Each reads back with zbar as the
// printer's symbol; data with a wrong check digit, or a UPC-E form that does not exist, print
// nothing and the decoding says why.
#include <gtest/gtest.h>

#include "receipt/decoding.h"
#include "symbol_streams.h"

namespace pellory::receipt::test {
namespace {

struct FormCase {
    const char* name;
    Bytes stream;
    std::string type;  // zbar's name (UPC-A reads as EAN-13 with a leading 0)
    std::string read;  // the digits read, check digit included
};

TEST(RetailCodes, EveryFormDrawsThePrintersSymbol) {
    const std::vector<FormCase> cases = {
        {"EAN8, 7 digits", GsK(68, T("9638507")), "EAN-8", "96385074"},
        {"EAN8, 8 digits with the check digit", GsK(68, T("96385074")), "EAN-8", "96385074"},
        {"EAN8, zero-terminated m 3", GsKZero(3, "96385074"), "EAN-8", "96385074"},
        {"EAN8, zero-terminated m 3, 7 digits", GsKZero(3, "9638507"), "EAN-8", "96385074"},
        {"EAN13, 12 digits", GsK(67, T("400638133393")), "EAN-13", "4006381333931"},
        {"EAN13, 13 digits", GsK(67, T("4006381333931")), "EAN-13", "4006381333931"},
        {"EAN13, zero-terminated m 2", GsKZero(2, "4006381333931"), "EAN-13", "4006381333931"},
        {"UPC-A, 11 digits", GsK(65, T("03600029145")), "EAN-13", "0036000291452"},
        {"UPC-A, 12 digits", GsK(65, T("036000291452")), "EAN-13", "0036000291452"},
        {"UPC-A, zero-terminated m 0", GsKZero(0, "036000291452"), "EAN-13", "0036000291452"},
        {"UPC-E, 6 digits", GsK(66, T("123456")), "UPC-E", "01234565"},
        {"UPC-E, 7 digits", GsK(66, T("0123456")), "UPC-E", "01234565"},
        {"UPC-E, 8 digits", GsK(66, T("01234565")), "UPC-E", "01234565"},
        {"UPC-E, 11 digits (UPC-A form)", GsK(66, T("01234500006")), "UPC-E", "01234565"},
        {"UPC-E, 12 digits (UPC-A form)", GsK(66, T("012345000065")), "UPC-E", "01234565"},
        {"UPC-E, zero-terminated m 1, 11 digits", GsKZero(1, "01234500006"), "UPC-E", "01234565"},
        // The UPC-A form by where its zeros are: each of the four ways UPC-E leaves them out.
        {"UPC-E from UPC-A, manufacturer x1x00", GsK(66, T("01210000345")), "UPC-E", "01234514"},
        {"UPC-E from UPC-A, manufacturer xxx00", GsK(66, T("01230000045")), "UPC-E", "01234531"},
        {"UPC-E from UPC-A, manufacturer xxxx0", GsK(66, T("012340000053")), "UPC-E", "01234543"},
        {"UPC-E from UPC-A, item 5 to 9", GsK(66, T("01234500007")), "UPC-E", "01234572"},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<ReadSymbol> read = ReadSymbols(Render(Cat({B({0x1D, 0x77, 2}), c.stream}), kOrva80Dots));
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0].type, c.type);
        EXPECT_EQ(read[0].data, c.read);
        const std::string decoded = DecodeStream(c.stream.data(), c.stream.size());
        EXPECT_EQ(decoded.find("prints nothing"), std::string::npos) << decoded;
    }
}

TEST(RetailCodes, DataNoSymbolHoldsPrintsNothingAndTheDecodingSaysWhy) {
    struct Case {
        Bytes stream;
        std::string why;
    };
    const std::vector<Case> cases = {
        {GsK(68, T("96385075")), "the check digit is wrong: 5, not 4"},
        {GsKZero(3, "96385070"), "the check digit is wrong: 0, not 4"},
        {GsK(67, T("4006381333932")), "the check digit is wrong: 2, not 1"},
        {GsK(65, T("036000291453")), "the check digit is wrong: 3, not 2"},
        {GsK(66, T("01234566")), "the check digit is wrong: 6, not 5"},
        {GsK(66, T("012345000064")), "the check digit is wrong: 4, not 5"},
        {GsK(66, T("1234567")), "UPC-E of 7, 8, 11 or 12 digits starts with 0"},
        {GsK(66, T("11234500006")), "UPC-E of 7, 8, 11 or 12 digits starts with 0"},
        {GsK(66, T("01234567890")), "UPC-A 01234567890 has no UPC-E form"},
        {GsK(66, T("01200010345")), "UPC-A 01200010345 has no UPC-E form"},
        {GsK(68, T("963850")), "EAN8 takes 7 or 8 digits"},
        {GsK(66, T("123456789")), "UPC-E takes 6, 7, 8, 11 or 12 digits"},
    };
    for (const Case& c : cases) {
        const std::string decoded = DecodeStream(c.stream.data(), c.stream.size());
        SCOPED_TRACE(decoded);
        EXPECT_NE(decoded.find("(prints nothing: " + c.why), std::string::npos);
        EXPECT_EQ(Render(Cat({c.stream, T("\n")}), kOrva80Dots).inkDots(), 0u);
    }
}

}  // namespace
}  // namespace pellory::receipt::test
