#include "access/jet_validation_rule.h"

#include "access/jet_write_error.h"

namespace velmora::jet {

ValidationRule::ValidationRule(std::string owner, std::string rule, std::optional<std::string> text,
                               bool fieldRule)
    : m_owner(std::move(owner)), m_rule(std::move(rule)), m_text(std::move(text)),
      m_expression(Expression::parse(m_rule, fieldRule)) {}

bool ValidationRule::keptBy(const ExpressionContext& context) const {
    const ExpressionValue result = m_expression.evaluate(context);
    if (result.null()) {
        return true;
    }
    if (result.kind == ExpressionValue::Kind::Text) {
        throw ExpressionError("a rule whose value is a text, not True or False");
    }
    return result.number != 0;
}

std::int32_t ValidationRule::refusalNumber() const {
    return m_text ? kJetValidationText : kJetValidationRule;
}

std::string ValidationRule::refusalText() const {
    if (m_text) {
        return *m_text;
    }
    return "One or more values are prohibited by the validation rule '" + m_rule + "' set for '" +
           m_owner + "'. Enter a value that the expression for this field can accept.";
}

} // namespace velmora::jet
