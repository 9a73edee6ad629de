#include "access/jet_validation_rule.h"

#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <ostream>
#include <string>

namespace velmora::jet {
namespace {

// One rule on one row: the field a column's rule checks (nothing for the
// table's rule), and the row's other columns.
struct RuleCase {
    const char* name;
    const char* rule;
    std::optional<ExpressionValue> field; // a column's rule on this value; none: the table's
    const char* expected;                 // "kept", "broken", or "unsupported"
    friend void PrintTo(const RuleCase& c, std::ostream* out) { *out << c.name; }
};

ExpressionValue text(const char* value) {
    return ExpressionValue::ofText(value);
}
ExpressionValue number(double value) {
    return ExpressionValue::ofNumber(value);
}
const std::optional<ExpressionValue> kNull = ExpressionValue{};
const std::optional<ExpressionValue> kTableRule = std::nullopt;
const std::string kDeeplyNested = std::string(1000, '(') + "1" + std::string(1000, ')');

class ValidationRuleTest : public ::testing::TestWithParam<RuleCase> {};

// A row breaks a rule only when the rule comes out False: Null keeps it, as
// the engine has it. The row: Kategorija "Igre", Program "Tetris", Opis
// "  Slagalica ", Ocjena 4, Napomena Null; today is 2024-03-01.
TEST_P(ValidationRuleTest, KeepsOrBreaksAsTheEngine) {
    const RuleCase& c = GetParam();
    const std::map<std::string, ExpressionValue> row = {
        {"kategorija", text("Igre")},    {"program", text("Tetris")},
        {"opis", text("  Slagalica ")},  {"ocjena", number(4)},
        {"napomena", ExpressionValue{}}, {"dodano", ExpressionValue::ofDate(45352.5)}};
    std::tm noon{};
    noon.tm_year = 2024 - 1900;
    noon.tm_mon = 2;
    noon.tm_mday = 1;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    ExpressionContext context;
    context.now = std::mktime(&noon);
    context.column = [&](std::string_view name) -> std::optional<ExpressionValue> {
        std::string folded(name);
        for (char& ch : folded) {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        const auto found = row.find(folded);
        return found == row.end() ? std::nullopt : std::optional(found->second);
    };
    context.field = c.field ? &*c.field : nullptr;
    std::string got;
    try {
        got = ValidationRule("CD.X", c.rule, std::nullopt, c.field.has_value()).keptBy(context)
                  ? "kept"
                  : "broken";
    } catch (const ExpressionError&) {
        got = "unsupported";
    }
    EXPECT_EQ(got, c.expected) << c.rule;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ValidationRuleTest,
    ::testing::Values(
        RuleCase{"ComparisonKept", ">0", number(1), "kept"},
        RuleCase{"ComparisonBroken", ">0", number(0), "broken"},
        RuleCase{"NullKeepsAComparison", ">0", kNull, "kept"},
        RuleCase{"RangeWithAnd", ">=1 And <=5", number(6), "broken"},
        RuleCase{"IsNotNull", "Is Not Null", kNull, "broken"},
        RuleCase{"IsNull", "Is Null Or >10", number(11), "kept"},
        RuleCase{"TextComparesWithoutCase", "=\"igre\"", text("IGRE"), "kept"},
        RuleCase{"NotEmptyText", "<>\"\"", text(""), "broken"},
        RuleCase{"LikeStar", "Like \"A*\"", text("alat"), "kept"},
        RuleCase{"LikeStarBroken", "Like \"A*\"", text("Igra"), "broken"},
        RuleCase{"LikeQuestionAndDigit", "Like \"?#-[a-c]*\"", text("x7-Bok"), "kept"},
        RuleCase{"LikeExcludedClass", "Like \"[!0-9]*\"", text("7up"), "broken"},
        RuleCase{"NotLike", "Not Like \"*x*\"", text("Tetris"), "kept"},
        RuleCase{"In", "In (\"Igre\",\"Internet\")", text("Internet"), "kept"},
        RuleCase{"InBroken", "In (\"Igre\",\"Internet\")", text("Grafika"), "broken"},
        RuleCase{"BareValuesJoinedByOr", "\"Igre\" Or \"Internet\"", text("Grafika"), "broken"},
        RuleCase{"NotABareValue", "Not 42", number(42), "broken"},
        RuleCase{"BareValueOrComparison", "0 Or >100", number(101), "kept"},
        RuleCase{"Between", "Between 1 And 5", number(5), "kept"},
        RuleCase{"BetweenBroken", "Between 1 And 5", number(0), "broken"},
        RuleCase{"NotBetween", "Not Between 1 And 5", number(3), "broken"},
        RuleCase{"DateLiteral", ">=#1/31/2024#", ExpressionValue::ofDate(45322), "kept"},
        RuleCase{"DateLiteralBroken", ">=#2024-01-31#", ExpressionValue::ofDate(45321), "broken"},
        RuleCase{"DateFunction", "<=Date()", ExpressionValue::ofDate(45353), "broken"},
        RuleCase{"NowFunction", "<=Now()", ExpressionValue::ofDate(45352.25), "kept"},
        RuleCase{"Len", "Len([Opis])<50", kTableRule, "kept"},
        RuleCase{"LenCountsUtf16Units", "Len(\"a\xF0\x9F\x98\x80\")=3", kTableRule, "kept"},
        RuleCase{"Trim", "Trim([Opis])=\"Slagalica\"", kTableRule, "kept"},
        RuleCase{"LeftRightMid",
                 "Left([Program],2) & Mid([Program],3,2) & Right([Program],2)"
                 "=\"Tetris\"",
                 kTableRule, "kept"},
        RuleCase{"UCaseLCase", "UCase([Program])=\"TETRIS\" And LCase(\"ČŽ\")=\"čž\"", kTableRule,
                 "kept"},
        RuleCase{"ColumnsCompared", "[Kategorija]<>\"\" And [Ocjena]*2>7", kTableRule, "kept"},
        RuleCase{"ColumnsComparedBroken", "[Ocjena]+1>5", kTableRule, "broken"},
        RuleCase{"NullColumnKeepsTheTableRule", "[Napomena]<>\"\"", kTableRule, "kept"},
        RuleCase{"ConcatenationWithNull", "[Napomena] & \"x\"=\"x\"", kTableRule, "kept"},
        RuleCase{"DateColumn", "[Dodano]>=Date()", kTableRule, "kept"},
        RuleCase{"OuterFunction", "DLookUp(\"ID\",\"CD\")>0", kTableRule, "unsupported"},
        RuleCase{"UnknownColumn", "[Nema]>0", kTableRule, "unsupported"},
        RuleCase{"TextIsNotANumber", ">0", text("abc"), "unsupported"},
        RuleCase{"Malformed", "Between 1", number(1), "unsupported"},
        RuleCase{"ManyStarsOnALongText", "Like \"*a*a*a*a*a*a*a*a*a*a*a*b\"",
                 text("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"),
                 "broken"},
        RuleCase{"NestedTooDeeply", kDeeplyNested.c_str(), number(1), "unsupported"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::jet
