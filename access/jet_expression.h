#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The expressions a table's design holds in its DefaultValue and
// ValidationRule properties, parsed and evaluated as the engine's expression
// service does for the forms that do not reach outside the row: literals
// (numbers, "texts", #dates#, True/False/Yes/No/On/Off, Null), column names,
// arithmetic, & concatenation, comparisons, Like with the engine's
// wildcards, In, Between, Is [Not] Null, Not/And/Or/Xor/Eqv, and the
// functions Len, Left, Right, Mid, Trim, LTrim, RTrim, UCase, LCase, Date,
// Now, Time. No C or C++ library parses this grammar (it is the engine's
// own), so the small parser is ours.
namespace velmora::jet {

// A value as expressions see it. Texts are UTF-8; a date is the engine's
// day number (days since 1899-12-30, the time as the fraction); a Boolean
// is -1 or 0 as the engine keeps it.
struct ExpressionValue {
    enum class Kind { Null, Number, Text, Date, Boolean };
    Kind kind = Kind::Null;
    double number = 0;
    std::string text;
    // The digits of a number literal as written, so that a Decimal column
    // gets them exactly; empty for a computed number.
    std::string literal;

    bool null() const { return kind == Kind::Null; }
    static ExpressionValue ofNumber(double value) { return {Kind::Number, value, {}, {}}; }
    static ExpressionValue ofText(std::string value) {
        return {Kind::Text, 0, std::move(value), {}};
    }
    static ExpressionValue ofDate(double days) { return {Kind::Date, days, {}, {}}; }
    static ExpressionValue ofBoolean(bool value) {
        return {Kind::Boolean, value ? -1.0 : 0.0, {}, {}};
    }
};

// An expression the parser does not accept, or that cannot be evaluated
// (a type mismatch, an unknown column): the text says what.
class ExpressionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What an evaluation reads from outside the expression.
struct ExpressionContext {
    // The value of a column by its name (any letter case); nothing when the
    // table has no such column.
    std::function<std::optional<ExpressionValue>(std::string_view)> column;
    // The field a field's validation rule checks (its implicit left operand).
    const ExpressionValue* field = nullptr;
    std::time_t now = 0;
};

class Expression {
public:
    // A field's validation rule may leave out the left operand of a
    // comparison (">0", "Like \"A*\"", "Between 1 And 5", "Is Not Null", ...)
    // and may list bare values joined by Or ("\"Igre\" Or \"Internet\""):
    // both compare with the field. Throws ExpressionError.
    static Expression parse(std::string_view text, bool fieldRule = false);

    // Throws ExpressionError.
    ExpressionValue evaluate(const ExpressionContext& context) const;

    // The column names the expression reads.
    std::vector<std::string> columns() const;

    struct Node;

private:
    explicit Expression(std::vector<Node> nodes);
    std::vector<Node> m_root; // one node, kept in a vector so that Node may be incomplete here
};

struct Expression::Node {
    enum class Op {
        Literal,
        Column,
        Field,
        Negate,
        Not,
        And,
        Or,
        Xor,
        Eqv,
        Compare,
        Like,
        In,
        Between,
        IsNull,
        Concat,
        Add,
        Subtract,
        Multiply,
        Divide,
        IntDivide,
        Modulo,
        Power,
        Call,
    };
    Op op = Op::Literal;
    ExpressionValue value; // a literal
    std::string name;      // a column, a function, or a comparison's operator
    bool negated = false;  // Not Like, Not In, Not Between, Is Not Null
    std::vector<Node> operands;
};

// The engine's rounding of a number into a whole one: halves to even.
double roundHalfEven(double value);

// A date and time of the local clock as the engine stores it: days since
// 1899-12-30, the time of day as the fraction.
double jetDateTime(std::time_t when, bool dateOnly);

// A value's text as & and a text column see it.
std::string expressionText(const ExpressionValue& value);

} // namespace velmora::jet
