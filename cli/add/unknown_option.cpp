#include "cli/add/unknown_option.h"

#include "cli/add/option_suggestion.h"

namespace velmora {
namespace {

// Every spelling of every option: "--program", "-q", ...
std::vector<std::string> optionNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            names.push_back("--" + name);
        }
        for (const std::string& name : option->get_snames()) {
            names.push_back("-" + name);
        }
    }
    return names;
}

} // namespace

std::string describeExtras(const CLI::App& app, const std::vector<std::string>& extras,
                           std::string_view program) {
    const std::string prefix = std::string(program) + ": ";
    for (const std::string& extra : extras) {
        if (extra.size() > 1 && extra.front() == '-') {
            const std::string name = extra.substr(0, extra.find('='));
            const std::string meant = closestOption(name, optionNames(app));
            return prefix + "unknown option " + name +
                   (meant.empty() ? "" : "; did you mean " + meant + "?") + "\n";
        }
    }
    return prefix + "unexpected argument " + (extras.empty() ? "" : extras.front()) + "\n";
}

} // namespace velmora
