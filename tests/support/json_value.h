#pragma once

#include <optional>
#include <string>

namespace velmora::testing {

// The value at `path` ("$.result", "$.rows[0][1]") of the JSON text `json`,
// as SQLite's JSON functions give it ("null" for null, "1" for true); none
// when `json` is not valid JSON or holds nothing there. SQLite is already
// linked, so the tests parse JSON without a library of their own.
std::optional<std::string> jsonValue(const std::string& json, const std::string& path);

} // namespace velmora::testing
