#pragma once

#include "access/jet_row_encoding.h"
#include "access/jet_table_definition.h"

#include <ctime>
#include <optional>
#include <string_view>

namespace velmora::jet {

// A date and time of the local clock as Jet stores it: days since
// 1899-12-30, the time of day as the fraction.
double jetDateTime(std::time_t when, bool dateOnly);

// The value a column's default gives a new row, as the engine evaluates the
// simple defaults: a number, a quoted text, True/False/Yes/No, Null, Date()
// and Now() (an "=" in front allowed). Nothing when the expression is
// anything else or does not fit the column's type.
std::optional<FieldValue> evaluateDefault(const ColumnDefinition& column,
                                          std::string_view expression, std::time_t now);

} // namespace velmora::jet
