#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// What is wrong with arguments that no option of `app` took, as the line
// "<program>: unknown option --x; did you mean --y?" (the first unknown
// option, with the option it most likely meant), else "<program>: unexpected
// argument X".
std::string describeExtras(const CLI::App& app, const std::vector<std::string>& extras,
                           std::string_view program);

} // namespace velmora
