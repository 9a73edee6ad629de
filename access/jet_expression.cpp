#include "access/jet_expression.h"

#include "access/jet_text_case.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velmora::jet {
namespace {

using Node = Expression::Node;
using Op = Node::Op;
using Kind = ExpressionValue::Kind;

[[noreturn]] void fail(const std::string& why) {
    throw ExpressionError(why);
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

const long long kJetEpoch = daysFromCivil(1899, 12, 30);

bool sameWord(std::string_view text, std::string_view word) {
    return text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a) == b;
           });
}

// --- tokens -----------------------------------------------------------------

struct Token {
    enum class Type { End, Number, Text, Date, Word, Name, Symbol };
    Type type = Type::End;
    std::string text;
};

class Lexer {
public:
    explicit Lexer(std::string_view text) : m_text(text) {}

    Token next() {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at]))) {
            ++m_at;
        }
        if (m_at == m_text.size()) {
            return {};
        }
        const char c = m_text[m_at];
        if (c == '"' || c == '\'') {
            return {Token::Type::Text, quoted(c)};
        }
        if (c == '[') {
            const auto end = m_text.find(']', m_at);
            if (end == std::string_view::npos) {
                fail("a [ without its ]");
            }
            Token token{Token::Type::Name, std::string(m_text.substr(m_at + 1, end - m_at - 1))};
            m_at = end + 1;
            return token;
        }
        if (c == '#') {
            const auto end = m_text.find('#', m_at + 1);
            if (end == std::string_view::npos) {
                fail("a # without its closing #");
            }
            Token token{Token::Type::Date, std::string(m_text.substr(m_at + 1, end - m_at - 1))};
            m_at = end + 1;
            return token;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            (c == '.' && m_at + 1 < m_text.size() &&
             std::isdigit(static_cast<unsigned char>(m_text[m_at + 1])))) {
            return {Token::Type::Number, number()};
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_' ||
            static_cast<unsigned char>(c) >= 0x80) {
            const std::size_t start = m_at;
            while (m_at < m_text.size() &&
                   (std::isalnum(static_cast<unsigned char>(m_text[m_at])) || m_text[m_at] == '_' ||
                    static_cast<unsigned char>(m_text[m_at]) >= 0x80)) {
                ++m_at;
            }
            return {Token::Type::Word, std::string(m_text.substr(start, m_at - start))};
        }
        for (const std::string_view two : {"<>", "<=", ">="}) {
            if (m_text.substr(m_at, 2) == two) {
                m_at += 2;
                return {Token::Type::Symbol, std::string(two)};
            }
        }
        if (std::string_view("=<>&+-*/\\^(),").find(c) != std::string_view::npos) {
            ++m_at;
            return {Token::Type::Symbol, std::string(1, c)};
        }
        fail(std::string("the character ") + c);
    }

private:
    std::string quoted(char quote) {
        std::string value;
        for (++m_at; m_at < m_text.size(); ++m_at) {
            if (m_text[m_at] == quote) {
                if (m_at + 1 < m_text.size() && m_text[m_at + 1] == quote) {
                    ++m_at; // a doubled quote stands for itself
                } else {
                    ++m_at;
                    return value;
                }
            }
            value.push_back(m_text[m_at]);
        }
        fail("a text without its closing quote");
    }

    std::string number() {
        const std::size_t start = m_at;
        const auto digits = [&] {
            while (m_at < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[m_at]))) {
                ++m_at;
            }
        };
        digits();
        if (m_at < m_text.size() && m_text[m_at] == '.') {
            ++m_at;
            digits();
        }
        if (m_at < m_text.size() && (m_text[m_at] == 'e' || m_text[m_at] == 'E')) {
            ++m_at;
            if (m_at < m_text.size() && (m_text[m_at] == '+' || m_text[m_at] == '-')) {
                ++m_at;
            }
            digits();
        }
        return std::string(m_text.substr(start, m_at - start));
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

// --- dates ------------------------------------------------------------------

// "m/d/yyyy", "yyyy-mm-dd", either with a time "h:mm[:ss] [AM|PM]", or a time
// alone, as the engine reads a #date# (in the United States order).
double dateLiteral(const std::string& text) {
    unsigned a = 0, b = 0, c = 0, h = 0, mi = 0, s = 0;
    char sep = 0;
    int used = 0;
    double days = 0;
    const char* rest = text.c_str();
    if (std::sscanf(rest, " %u%c%u%*c%u%n", &a, &sep, &b, &c, &used) == 4 &&
        (sep == '/' || sep == '-')) {
        const bool isoOrder = a > 31;
        long long year = isoOrder ? a : c;
        const unsigned month = isoOrder ? b : a;
        const unsigned day = isoOrder ? c : b;
        if (year < 100) {
            year += year < 30 ? 2000 : 1900;
        }
        if (month < 1 || month > 12 || day < 1 || day > 31) {
            fail("the date #" + text + "#");
        }
        days = static_cast<double>(daysFromCivil(year, month, day) - kJetEpoch);
        rest += used;
    }
    while (*rest == ' ') {
        ++rest;
    }
    if (*rest == '\0') {
        return days;
    }
    used = 0;
    if (std::sscanf(rest, "%u:%u%n", &h, &mi, &used) < 2) {
        fail("the date #" + text + "#");
    }
    rest += used;
    if (int more = 0; std::sscanf(rest, ":%u%n", &s, &more) == 1) {
        rest += more;
    }
    while (*rest == ' ') {
        ++rest;
    }
    const std::string_view half(rest);
    if (sameWord(half, "pm") && h < 12) {
        h += 12;
    } else if (sameWord(half, "am") && h == 12) {
        h = 0;
    } else if (!half.empty() && !sameWord(half, "am") && !sameWord(half, "pm")) {
        fail("the date #" + text + "#");
    }
    if (h > 23 || mi > 59 || s > 59) {
        fail("the date #" + text + "#");
    }
    return days + (h * 3600 + mi * 60 + s) / 86400.0;
}

std::string dateText(double value) {
    const double whole = std::floor(value);
    auto days = static_cast<long long>(whole) + kJetEpoch + 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    char out[64];
    std::snprintf(out, sizeof out, "%u/%u/%lld", m, d, y);
    std::string text = out;
    const auto seconds = static_cast<long>(std::lround((value - whole) * 86400));
    if (seconds != 0) {
        std::snprintf(out, sizeof out, " %ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
        text += out;
    }
    return text;
}

// --- parser -----------------------------------------------------------------

Node leaf(Op op, ExpressionValue value = {}) {
    Node node;
    node.op = op;
    node.value = std::move(value);
    return node;
}

Node binary(Op op, Node left, Node right, std::string name = {}) {
    Node node;
    node.op = op;
    node.name = std::move(name);
    node.operands.push_back(std::move(left));
    node.operands.push_back(std::move(right));
    return node;
}

bool yieldsTruth(const Node& node) {
    switch (node.op) {
    case Op::Compare:
    case Op::Like:
    case Op::In:
    case Op::Between:
    case Op::IsNull:
    case Op::Not:
    case Op::And:
    case Op::Or:
    case Op::Xor:
    case Op::Eqv:
        return true;
    default:
        return false;
    }
}

struct Function {
    std::string_view name;
    std::size_t least;
    std::size_t most;
};
constexpr Function kFunctions[] = {
    {"len", 1, 1},   {"left", 2, 2},  {"right", 2, 2}, {"mid", 2, 3},
    {"trim", 1, 1},  {"ltrim", 1, 1}, {"rtrim", 1, 1}, {"ucase", 1, 1},
    {"lcase", 1, 1}, {"date", 0, 0},  {"now", 0, 0},   {"time", 0, 0},
};

class Parser {
public:
    Parser(std::string_view text, bool fieldRule) : m_lexer(text), m_fieldRule(fieldRule) {
        advance();
    }

    Node parseAll() {
        Node node = logical(0);
        if (m_token.type != Token::Type::End) {
            fail("unexpected " + m_token.text);
        }
        return node;
    }

private:
    void advance() { m_token = m_lexer.next(); }
    bool isWord(std::string_view word) const {
        return m_token.type == Token::Type::Word && sameWord(m_token.text, word);
    }
    bool isSymbol(std::string_view symbol) const {
        return m_token.type == Token::Type::Symbol && m_token.text == symbol;
    }
    void expectSymbol(std::string_view symbol) {
        if (!isSymbol(symbol)) {
            fail("a missing " + std::string(symbol));
        }
        advance();
    }

    // Eqv, Xor, Or, And, Not: lowest first.
    // Nesting as deep as this is no rule a designer wrote; it is refused
    // before it can exhaust the stack.
    struct Nesting {
        explicit Nesting(int& depth) : m_depth(depth) {
            if (++m_depth > 200) {
                fail("an expression nested too deeply");
            }
        }
        ~Nesting() { --m_depth; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;
        int& m_depth;
    };

    Node logical(int level) {
        const Nesting nesting(m_nesting);
        static constexpr std::string_view kWords[] = {"eqv", "xor", "or", "and"};
        static constexpr Op kOps[] = {Op::Eqv, Op::Xor, Op::Or, Op::And};
        if (level == 4) {
            return negation();
        }
        Node node = logical(level + 1);
        while (isWord(kWords[level])) {
            advance();
            node = binary(kOps[level], std::move(node), logical(level + 1));
        }
        return node;
    }

    Node negation() {
        const Nesting nesting(m_nesting);
        if (isWord("not")) {
            advance();
            Node node;
            node.op = Op::Not;
            node.operands.push_back(negation());
            return node;
        }
        Node node = comparison();
        // A field's rule may list bare values: each compares equal with the field.
        if (m_fieldRule && m_depth == 0 && !yieldsTruth(node)) {
            node = binary(Op::Compare, leaf(Op::Field), std::move(node), "=");
        }
        return node;
    }

    bool startsComparison() const {
        for (const char* symbol : {"=", "<>", "<", ">", "<=", ">="}) {
            if (isSymbol(symbol)) {
                return true;
            }
        }
        return isWord("like") || isWord("in") || isWord("between") || isWord("is");
    }

    Node comparison() {
        Node left;
        if (m_fieldRule && m_depth == 0 && startsComparison()) {
            left = leaf(Op::Field); // the field is the left operand left out
        } else {
            left = concatenation();
        }
        bool negated = false;
        if (isWord("not")) {
            advance();
            negated = true;
            if (!isWord("like") && !isWord("in") && !isWord("between")) {
                fail("Not where Like, In or Between must follow");
            }
        }
        if (!negated && startsComparison() && m_token.type == Token::Type::Symbol) {
            const std::string op = m_token.text;
            advance();
            return binary(Op::Compare, std::move(left), concatenation(), op);
        }
        Node node;
        node.negated = negated;
        node.operands.push_back(std::move(left));
        if (isWord("like")) {
            advance();
            node.op = Op::Like;
            node.operands.push_back(concatenation());
        } else if (isWord("in")) {
            advance();
            node.op = Op::In;
            expectSymbol("(");
            ++m_depth;
            node.operands.push_back(logical(0));
            while (isSymbol(",")) {
                advance();
                node.operands.push_back(logical(0));
            }
            --m_depth;
            expectSymbol(")");
        } else if (isWord("between")) {
            advance();
            node.op = Op::Between;
            node.operands.push_back(concatenation());
            if (!isWord("and")) {
                fail("Between without its And");
            }
            advance();
            node.operands.push_back(concatenation());
        } else if (isWord("is") && !negated) {
            advance();
            node.op = Op::IsNull;
            if (isWord("not")) {
                advance();
                node.negated = true;
            }
            if (!isWord("null")) {
                fail("Is without Null");
            }
            advance();
        } else {
            return std::move(node.operands.front());
        }
        return node;
    }

    Node concatenation() {
        Node node = additive();
        while (isSymbol("&")) {
            advance();
            node = binary(Op::Concat, std::move(node), additive());
        }
        return node;
    }

    Node additive() {
        Node node = modulo();
        while (isSymbol("+") || isSymbol("-")) {
            const Op op = isSymbol("+") ? Op::Add : Op::Subtract;
            advance();
            node = binary(op, std::move(node), modulo());
        }
        return node;
    }

    Node modulo() {
        Node node = intDivision();
        while (isWord("mod")) {
            advance();
            node = binary(Op::Modulo, std::move(node), intDivision());
        }
        return node;
    }

    Node intDivision() {
        Node node = multiplicative();
        while (isSymbol("\\")) {
            advance();
            node = binary(Op::IntDivide, std::move(node), multiplicative());
        }
        return node;
    }

    Node multiplicative() {
        Node node = unary();
        while (isSymbol("*") || isSymbol("/")) {
            const Op op = isSymbol("*") ? Op::Multiply : Op::Divide;
            advance();
            node = binary(op, std::move(node), unary());
        }
        return node;
    }

    Node unary() {
        const Nesting nesting(m_nesting);
        if (isSymbol("-") || isSymbol("+")) {
            const bool minus = isSymbol("-");
            advance();
            Node operand = unary();
            if (!minus) {
                return operand;
            }
            if (operand.op == Op::Literal && operand.value.kind == Kind::Number) {
                operand.value.number = -operand.value.number;
                operand.value.literal = "-" + operand.value.literal;
                return operand;
            }
            Node node;
            node.op = Op::Negate;
            node.operands.push_back(std::move(operand));
            return node;
        }
        return power();
    }

    Node power() {
        Node node = primary();
        while (isSymbol("^")) {
            advance();
            Node exponent = isSymbol("-") || isSymbol("+") ? unary() : primary();
            node = binary(Op::Power, std::move(node), std::move(exponent));
        }
        return node;
    }

    Node primary() {
        const Token token = m_token;
        switch (token.type) {
        case Token::Type::End:
            fail("an expression that ends too early");
        case Token::Type::Number: {
            advance();
            char* end = nullptr;
            const double value = std::strtod(token.text.c_str(), &end);
            if (*end != '\0' || !std::isfinite(value)) {
                fail("the number " + token.text);
            }
            ExpressionValue number = ExpressionValue::ofNumber(value);
            number.literal = token.text;
            return leaf(Op::Literal, std::move(number));
        }
        case Token::Type::Text:
            advance();
            return leaf(Op::Literal, ExpressionValue::ofText(token.text));
        case Token::Type::Date:
            advance();
            return leaf(Op::Literal, ExpressionValue::ofDate(dateLiteral(token.text)));
        case Token::Type::Name: {
            advance();
            Node node = leaf(Op::Column);
            node.name = token.text;
            return node;
        }
        case Token::Type::Symbol:
            if (token.text != "(") {
                fail("unexpected " + token.text);
            }
            advance();
            {
                ++m_depth;
                Node node = logical(0);
                --m_depth;
                expectSymbol(")");
                return node;
            }
        case Token::Type::Word:
            break;
        }
        advance();
        if (sameWord(token.text, "null")) {
            return leaf(Op::Literal);
        }
        for (const auto& [word, truth] : {std::pair{"true", true},
                                          {"yes", true},
                                          {"on", true},
                                          {"false", false},
                                          {"no", false},
                                          {"off", false}}) {
            if (sameWord(token.text, word)) {
                return leaf(Op::Literal, ExpressionValue::ofBoolean(truth));
            }
        }
        if (!isSymbol("(")) {
            Node node = leaf(Op::Column); // a column named without brackets
            node.name = token.text;
            return node;
        }
        const auto known =
            std::find_if(std::begin(kFunctions), std::end(kFunctions),
                         [&](const Function& f) { return sameWord(token.text, f.name); });
        if (known == std::end(kFunctions)) {
            fail("the function " + token.text + "()");
        }
        advance();
        Node node = leaf(Op::Call);
        node.name = std::string(known->name);
        ++m_depth;
        if (!isSymbol(")")) {
            node.operands.push_back(logical(0));
            while (isSymbol(",")) {
                advance();
                node.operands.push_back(logical(0));
            }
        }
        --m_depth;
        expectSymbol(")");
        if (node.operands.size() < known->least || node.operands.size() > known->most) {
            fail(token.text + "() with " + std::to_string(node.operands.size()) + " arguments");
        }
        return node;
    }

    Lexer m_lexer;
    Token m_token;
    bool m_fieldRule;
    int m_depth = 0; // inside parentheses, a list or a function's arguments
    int m_nesting = 0;
};

// --- evaluation ---------------------------------------------------------------

std::optional<double> numberOfText(const std::string& text) {
    const auto start = text.find_first_not_of(' ');
    if (start == std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str() + start, &end);
    while (*end == ' ') {
        ++end;
    }
    if (end == text.c_str() + start || *end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

double numberOf(const ExpressionValue& value) {
    if (value.kind == Kind::Text) {
        if (const auto number = numberOfText(value.text)) {
            return *number;
        }
        fail("a type mismatch: \"" + value.text + "\" is not a number");
    }
    return value.number;
}

bool truthOf(const ExpressionValue& value) {
    return numberOf(value) != 0;
}

// -1, 0 or 1; texts compare as the engine compares them, without regard to
// letter case.
int compareValues(const ExpressionValue& a, const ExpressionValue& b) {
    if (a.kind == Kind::Text && b.kind == Kind::Text) {
        const std::u32string x = foldCase(a.text);
        const std::u32string y = foldCase(b.text);
        return x < y ? -1 : x == y ? 0 : 1;
    }
    const double x = numberOf(a);
    const double y = numberOf(b);
    return x < y ? -1 : x == y ? 0 : 1;
}

bool holds(const std::string& op, int order) {
    if (op == "=") {
        return order == 0;
    }
    if (op == "<>") {
        return order != 0;
    }
    if (op == "<") {
        return order < 0;
    }
    if (op == ">") {
        return order > 0;
    }
    if (op == "<=") {
        return order <= 0;
    }
    return order >= 0;
}

// Like: * any run, ? one character, # one digit, [abc], [a-z], [!abc]. The
// pattern becomes single-character matchers and stars, matched with one
// point to return to (the last star), so the time stays the product of the
// two lengths however many stars there are.
struct LikeToken {
    enum class Kind { Star, Any, Digit, Set, Char };
    Kind kind = Kind::Char;
    char32_t c = 0;
    std::vector<std::pair<char32_t, char32_t>> ranges; // a set's characters and ranges
    bool exclude = false;

    bool matches(char32_t x) const {
        switch (kind) {
        case Kind::Any:
            return true;
        case Kind::Digit:
            return x >= U'0' && x <= U'9';
        case Kind::Set: {
            const bool found = std::any_of(ranges.begin(), ranges.end(), [x](const auto& r) {
                return x >= r.first && x <= r.second;
            });
            return found != exclude;
        }
        case Kind::Char:
            return x == c;
        case Kind::Star:
            break;
        }
        return false;
    }
};

std::vector<LikeToken> likePattern(const std::u32string& pattern) {
    std::vector<LikeToken> tokens;
    for (std::size_t p = 0; p < pattern.size(); ++p) {
        LikeToken token;
        const char32_t c = pattern[p];
        if (c == U'*') {
            token.kind = LikeToken::Kind::Star;
        } else if (c == U'?') {
            token.kind = LikeToken::Kind::Any;
        } else if (c == U'#') {
            token.kind = LikeToken::Kind::Digit;
        } else if (c == U'[') {
            const auto close = pattern.find(U']', p + 1);
            if (close == std::u32string::npos) {
                fail("a [ without its ] in a Like pattern");
            }
            token.kind = LikeToken::Kind::Set;
            std::size_t k = p + 1;
            token.exclude = k < close && pattern[k] == U'!';
            k += token.exclude ? 1 : 0;
            for (; k < close; ++k) {
                if (k + 2 < close && pattern[k + 1] == U'-') {
                    token.ranges.emplace_back(pattern[k], pattern[k + 2]);
                    k += 2;
                } else {
                    token.ranges.emplace_back(pattern[k], pattern[k]);
                }
            }
            p = close;
        } else {
            token.c = c;
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

bool like(const std::u32string& text, const std::u32string& pattern) {
    const std::vector<LikeToken> tokens = likePattern(pattern);
    const auto star = [&](std::size_t p) {
        return p < tokens.size() && tokens[p].kind == LikeToken::Kind::Star;
    };
    std::size_t t = 0;
    std::size_t p = 0;
    std::optional<std::size_t> lastStar;
    std::size_t resumeAt = 0;
    while (t < text.size()) {
        if (star(p)) {
            lastStar = p++;
            resumeAt = t;
        } else if (p < tokens.size() && tokens[p].matches(text[t])) {
            ++p;
            ++t;
        } else if (lastStar) {
            p = *lastStar + 1;
            t = ++resumeAt;
        } else {
            return false;
        }
    }
    while (star(p)) {
        ++p;
    }
    return p == tokens.size();
}

ExpressionValue truth(bool value) {
    return ExpressionValue::ofBoolean(value);
}

class Evaluator {
public:
    explicit Evaluator(const ExpressionContext& context) : m_context(context) {}

    ExpressionValue operator()(const Node& node) const {
        const auto& in = node.operands;
        switch (node.op) {
        case Op::Literal:
            return node.value;
        case Op::Field:
            if (m_context.field == nullptr) {
                fail("a rule of its own field outside a field");
            }
            return *m_context.field;
        case Op::Column: {
            std::optional<ExpressionValue> value;
            if (m_context.column) {
                value = m_context.column(node.name);
            }
            if (!value) {
                fail("the column [" + node.name + "], which the table does not have");
            }
            return *value;
        }
        case Op::Negate: {
            const ExpressionValue v = (*this)(in[0]);
            return v.null() ? v : ExpressionValue::ofNumber(-numberOf(v));
        }
        case Op::Not: {
            const ExpressionValue v = (*this)(in[0]);
            return v.null() ? v : truth(!truthOf(v));
        }
        case Op::And:
        case Op::Or:
        case Op::Xor:
        case Op::Eqv:
            return logic(node.op, (*this)(in[0]), (*this)(in[1]));
        case Op::Compare: {
            const ExpressionValue a = (*this)(in[0]);
            const ExpressionValue b = (*this)(in[1]);
            if (a.null() || b.null()) {
                return {};
            }
            return truth(holds(node.name, compareValues(a, b)));
        }
        case Op::Like: {
            const ExpressionValue a = (*this)(in[0]);
            const ExpressionValue b = (*this)(in[1]);
            if (a.null() || b.null()) {
                return {};
            }
            return truth(like(foldCase(expressionText(a)), foldCase(expressionText(b))) !=
                         node.negated);
        }
        case Op::In: {
            const ExpressionValue a = (*this)(in[0]);
            if (a.null()) {
                return a;
            }
            bool sawNull = false;
            for (std::size_t k = 1; k < in.size(); ++k) {
                const ExpressionValue b = (*this)(in[k]);
                if (b.null()) {
                    sawNull = true;
                } else if (compareValues(a, b) == 0) {
                    return truth(!node.negated);
                }
            }
            return sawNull ? ExpressionValue{} : truth(node.negated);
        }
        case Op::Between: {
            const ExpressionValue a = (*this)(in[0]);
            const ExpressionValue low = (*this)(in[1]);
            const ExpressionValue high = (*this)(in[2]);
            if (a.null() || low.null() || high.null()) {
                return {};
            }
            const bool inside = compareValues(a, low) >= 0 && compareValues(a, high) <= 0;
            return truth(inside != node.negated);
        }
        case Op::IsNull:
            return truth((*this)(in[0]).null() != node.negated);
        case Op::Concat: {
            const ExpressionValue a = (*this)(in[0]);
            const ExpressionValue b = (*this)(in[1]);
            if (a.null() && b.null()) {
                return {};
            }
            return ExpressionValue::ofText(expressionText(a) + expressionText(b));
        }
        case Op::Call:
            return call(node);
        default:
            return arithmetic(node.op, (*this)(in[0]), (*this)(in[1]));
        }
    }

private:
    static ExpressionValue logic(Op op, const ExpressionValue& a, const ExpressionValue& b) {
        const std::optional<bool> x = a.null() ? std::nullopt : std::optional(truthOf(a));
        const std::optional<bool> y = b.null() ? std::nullopt : std::optional(truthOf(b));
        if (op == Op::And) {
            if (x == false || y == false) {
                return truth(false);
            }
            return x && y ? truth(true) : ExpressionValue{};
        }
        if (op == Op::Or) {
            if (x == true || y == true) {
                return truth(true);
            }
            return x && y ? truth(false) : ExpressionValue{};
        }
        if (!x || !y) {
            return {};
        }
        return truth(op == Op::Xor ? *x != *y : *x == *y);
    }

    static ExpressionValue arithmetic(Op op, const ExpressionValue& a, const ExpressionValue& b) {
        if (a.null() || b.null()) {
            return {};
        }
        if (op == Op::Add && a.kind == Kind::Text && b.kind == Kind::Text) {
            return ExpressionValue::ofText(a.text + b.text);
        }
        const double x = numberOf(a);
        const double y = numberOf(b);
        const bool zero =
            y == 0 || ((op == Op::IntDivide || op == Op::Modulo) && roundHalfEven(y) == 0);
        if (zero && (op == Op::Divide || op == Op::IntDivide || op == Op::Modulo)) {
            fail("a division by zero");
        }
        double result = 0;
        switch (op) {
        case Op::Add:
            result = x + y;
            break;
        case Op::Subtract:
            result = x - y;
            break;
        case Op::Multiply:
            result = x * y;
            break;
        case Op::Divide:
            result = x / y;
            break;
        case Op::IntDivide:
            result = std::trunc(roundHalfEven(x) / roundHalfEven(y));
            break;
        case Op::Modulo:
            result = std::fmod(roundHalfEven(x), roundHalfEven(y));
            break;
        default:
            result = std::pow(x, y);
            break;
        }
        if (!std::isfinite(result)) {
            fail("an overflow");
        }
        // A date moved by a number of days stays a date; two dates apart are days.
        const bool date = (op == Op::Add && (a.kind == Kind::Date) != (b.kind == Kind::Date)) ||
                          (op == Op::Subtract && a.kind == Kind::Date && b.kind != Kind::Date);
        return date ? ExpressionValue::ofDate(result) : ExpressionValue::ofNumber(result);
    }

    ExpressionValue call(const Node& node) const {
        const std::string& f = node.name;
        if (f == "date" || f == "now" || f == "time") {
            const double now = jetDateTime(m_context.now, false);
            const double today = jetDateTime(m_context.now, true);
            return ExpressionValue::ofDate(f == "date" ? today : f == "now" ? now : now - today);
        }
        std::vector<ExpressionValue> args;
        for (const Node& operand : node.operands) {
            args.push_back((*this)(operand));
        }
        for (std::size_t k = 1; k < args.size(); ++k) {
            if (args[k].null()) {
                fail("a Null where " + f + "() needs a number");
            }
        }
        if (args[0].null()) {
            return {};
        }
        std::u32string text = toUtf32(expressionText(args[0]));
        const auto count = [&](std::size_t k) {
            const double n = roundHalfEven(numberOf(args[k]));
            if (n < 0 || n > 1e9) {
                fail("a length out of range in " + f + "()");
            }
            return static_cast<std::size_t>(n);
        };
        if (f == "len") {
            return ExpressionValue::ofNumber(static_cast<double>(toUtf16Length(text)));
        }
        if (f == "left") {
            text = text.substr(0, count(1));
        } else if (f == "right") {
            const std::size_t n = std::min(count(1), text.size());
            text = text.substr(text.size() - n);
        } else if (f == "mid") {
            const std::size_t start = count(1);
            if (start < 1) {
                fail("a start before the first character in Mid()");
            }
            text = start > text.size()
                       ? std::u32string{}
                       : text.substr(start - 1, args.size() > 2 ? count(2) : std::u32string::npos);
        } else if (f == "trim" || f == "ltrim" || f == "rtrim") {
            if (f != "rtrim") {
                text.erase(0, std::min(text.find_first_not_of(U' '), text.size()));
            }
            if (f != "ltrim") {
                const auto last = text.find_last_not_of(U' ');
                text.erase(last == std::u32string::npos ? 0 : last + 1);
            }
        } else if (f == "ucase") {
            text = upperCase(text);
        } else {
            text = lowerCase(text);
        }
        return ExpressionValue::ofText(fromUtf32(text));
    }

    const ExpressionContext& m_context;
};

void collectColumns(const Node& node, std::vector<std::string>& names) {
    if (node.op == Op::Column) {
        names.push_back(node.name);
    }
    for (const Node& operand : node.operands) {
        collectColumns(operand, names);
    }
}

} // namespace

Expression::Expression(std::vector<Node> nodes) : m_root(std::move(nodes)) {}

Expression Expression::parse(std::string_view text, bool fieldRule) {
    // Access keeps a rule or a default to 2,048 characters; more is no design of its.
    if (text.size() > 4 * 2048) {
        fail("an expression longer than Access allows");
    }
    std::vector<Node> root;
    root.push_back(Parser(text, fieldRule).parseAll());
    return Expression(std::move(root));
}

ExpressionValue Expression::evaluate(const ExpressionContext& context) const {
    return Evaluator(context)(m_root.front());
}

std::vector<std::string> Expression::columns() const {
    std::vector<std::string> names;
    collectColumns(m_root.front(), names);
    return names;
}

double roundHalfEven(double value) {
    const double down = std::floor(value);
    const double rest = value - down;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(down, 2) != 0)) {
        return down + 1;
    }
    return down;
}

double jetDateTime(std::time_t when, bool dateOnly) {
    std::tm local{};
    localtime_r(&when, &local);
    const long long days =
        daysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)) -
        kJetEpoch;
    if (dateOnly) {
        return static_cast<double>(days);
    }
    const int seconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return static_cast<double>(days) + seconds / 86400.0;
}

std::string expressionText(const ExpressionValue& value) {
    switch (value.kind) {
    case Kind::Null:
        return {};
    case Kind::Text:
        return value.text;
    case Kind::Boolean:
        return value.number != 0 ? "True" : "False";
    case Kind::Date:
        return dateText(value.number);
    case Kind::Number:
        break;
    }
    char out[40];
    if (value.number == std::floor(value.number) && std::fabs(value.number) < 1e15) {
        std::snprintf(out, sizeof out, "%.0f", value.number);
    } else {
        std::snprintf(out, sizeof out, "%.15g", value.number);
    }
    return out;
}

} // namespace velmora::jet
