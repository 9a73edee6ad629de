#include "access/jet_values.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velmora::jet {
namespace {

struct TextCase {
    const char* name;
    std::vector<unsigned char> bytes;
    std::string utf8;
    friend void PrintTo(const TextCase& c, std::ostream* out) { *out << c.name; }
};

class JetTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(JetTextTest, DecodesToUtf8) {
    EXPECT_EQ(utf8FromJetText(GetParam().bytes), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, JetTextTest,
    ::testing::Values(
        TextCase{"Empty", {}, ""}, TextCase{"Utf16", {0x41, 0x00, 0x0D, 0x01}, "Ač"},
        // FF FE, then one byte per character; 0 switches to two bytes and back.
        TextCase{"Compressed", {0xFF, 0xFE, 0x41, 0x00, 0x0D, 0x01, 0x00, 0x42}, "AčB"},
        TextCase{"SurrogatePair", {0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
        // U+1F601; a unit whose low byte is 0 never stands in compressed text.
        TextCase{"CompressedSurrogatePair",
                 {0xFF, 0xFE, 0x78, 0x00, 0x3D, 0xD8, 0x01, 0xDE},
                 "x\xF0\x9F\x98\x81"},
        TextCase{"LoneHighSurrogateAtEnd", {0x41, 0x00, 0x3D, 0xD8}, "A\xEF\xBF\xBD"},
        TextCase{"LoneLowSurrogate",
                 {0x00, 0xDE, 0x41, 0x00},
                 "\xEF\xBF\xBD"
                 "A"},
        TextCase{"OddByteAtEnd", {0x41, 0x00, 0x42}, "A\xEF\xBF\xBD"},
        TextCase{"NulKept", {0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, std::string("A\0B", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

struct DateCase {
    const char* name;
    double days;
    std::optional<std::string> text;
    friend void PrintTo(const DateCase& c, std::ostream* out) { *out << c.name; }
};

class JetDateTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(JetDateTest, GivesIsoTextWithFourDigitYears) {
    EXPECT_EQ(dateTimeText(GetParam().days), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Days, JetDateTest,
    ::testing::Values(DateCase{"DayZero", 0.0, "1899-12-30 00:00:00"},
                      DateCase{"Afternoon", 45352.5, "2024-03-01 12:00:00"},
                      // Before day zero the days count down but the fraction counts forward.
                      DateCase{"BeforeDayZero", -1.25, "1899-12-29 06:00:00"},
                      DateCase{"NegativeFractionOfDayZero", -0.5, "1899-12-30 12:00:00"},
                      DateCase{"RoundsUpToTheNextDay", 1.0 - 0.4 / 86400, "1899-12-31 00:00:00"},
                      DateCase{"FirstYearAccessTakes", -657434.0, "0100-01-01 00:00:00"},
                      DateCase{"LastSecond", 2958465.0 + 86399.0 / 86400, "9999-12-31 23:59:59"},
                      DateCase{"BeyondYear9999", 2958466.0, std::nullopt},
                      DateCase{"BeforeYear1", -693594.0, std::nullopt},
                      DateCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(),
                               std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JetDecimalTest, IsExactAtEveryMagnitude) {
    EXPECT_EQ(currencyText(std::numeric_limits<std::int64_t>::min()), "-922337203685477.5808");
    EXPECT_EQ(currencyText(std::numeric_limits<std::int64_t>::max()), "922337203685477.5807");
    EXPECT_EQ(currencyText(-5), "-0.0005");
    EXPECT_EQ(currencyText(0), "0.0000");
    EXPECT_EQ(decimalText(120, 0), "120");
}

// libmdb gives no text for a replication ID or a decimal it cannot format:
// the value is refused where it lies, never stored as an empty text.
TEST(JetFormattedTextTest, NoTextFromLibmdbIsRefusedWithWhereItLies) {
    const auto where = [] { return std::string("row 3 of page 7 in table CD, a decimal"); };
    EXPECT_EQ(formattedText("-12.50", where), "-12.50");
    EXPECT_EQ(formattedText("", where), "");
    try {
        formattedText(nullptr, where);
        ADD_FAILURE() << "no refusal";
    } catch (const JetError& error) {
        EXPECT_STREQ(error.what(), "row 3 of page 7 in table CD, a decimal, cannot be read "
                                   "(libmdb gives no text for it)");
    }
}

} // namespace
} // namespace velmora::jet
