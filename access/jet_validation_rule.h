#pragma once

#include "access/jet_expression.h"

#include <optional>
#include <string>

namespace velmora::jet {

// A column's or a table's ValidationRule with its ValidationText, checked
// as the engine checks it on an insert: a row breaks the rule only when the
// rule comes out False; Null (a comparison with an empty field) keeps it.
class ValidationRule {
public:
    // `owner` is "CD.Column" for a column's rule, "CD" for the table's.
    // Throws ExpressionError when the rule is outside what Expression
    // evaluates.
    ValidationRule(std::string owner, std::string rule, std::optional<std::string> text,
                   bool fieldRule);

    const std::string& rule() const { return m_rule; }
    const std::optional<std::string>& text() const { return m_text; }
    const Expression& expression() const { return m_expression; }

    // Throws ExpressionError when the rule cannot be evaluated on this row.
    bool keptBy(const ExpressionContext& context) const;

    // What the engine says when a row breaks it: the designer's
    // ValidationText when there is one, else its own words naming the rule.
    std::int32_t refusalNumber() const;
    std::string refusalText() const;

private:
    std::string m_owner;
    std::string m_rule;
    std::optional<std::string> m_text;
    Expression m_expression;
};

} // namespace velmora::jet
