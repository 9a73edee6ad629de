#pragma once

#include "access/jet_expression.h"
#include "access/jet_row_encoding.h"
#include "access/jet_table_definition.h"

#include <ctime>
#include <optional>
#include <string_view>

namespace velmora::jet {

// A value of an expression as a column of this type stores it, converted as
// the engine converts on an insert (whole numbers rounded halves to even,
// Currency to four places, a Decimal to its scale); nothing when it does not
// fit the column (out of range, a text longer than the field, a type the
// engine cannot convert it to).
std::optional<FieldValue> storedValue(const ColumnDefinition& column, const ExpressionValue& value);

// The value a column's constant default gives a new row: the expression
// evaluated without a row (an "=" in front allowed), then stored as above.
// Nothing when the expression is outside what Expression evaluates, reads a
// column, or does not fit the column.
std::optional<FieldValue> evaluateDefault(const ColumnDefinition& column,
                                          std::string_view expression, std::time_t now);

// The expression of a default without the "=" it may start with.
std::string_view defaultExpression(std::string_view expression);

} // namespace velmora::jet
