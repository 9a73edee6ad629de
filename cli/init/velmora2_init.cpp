// velmora2-init [--convert] [--accept-missing-rows] FOLDER: makes an empty collection that
// Velmora2ADD can add to, checks that an Access catalogue brought from Windows can be added to in
// place, or converts it on request.
#include "cli/add/option_suggestion.h"
#include "cli/init/collection_init.h"
#include "version.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kAcceptMissingRows = "--accept-missing-rows";
constexpr std::string_view kConvert = "--convert";
constexpr const char* kUsage = "usage: velmora2-init [--convert] [--accept-missing-rows] FOLDER\n";

bool isHelp(std::string_view argument) {
    return argument == "-h" || argument == "--help";
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && isHelp(argv[1])) {
        std::printf("%s%s", kUsage,
                    "Makes FOLDER/Velmora2.db (table CD) and FOLDER/Programi; an existing\n"
                    "catalogue is left as it is, and how many entries it holds and whether\n"
                    "their program folders hold both files is said. An Access 2000 (Jet 4)\n"
                    "Velmora2.db is added to in place and stays readable by its Windows programs.\n"
                    "--convert: convert an Access (Jet 4 or Jet 3) Velmora2.db into an SQLite\n"
                    "catalogue; the original is kept beside it as Velmora2.jet4.db\n"
                    "(Velmora2.jet3.db), or the next free name. A table whose rows differ\n"
                    "from the count its definition records is refused unless\n"
                    "--accept-missing-rows is given: then the rows found are converted.\n"
                    "A FOLDER that starts with - follows --.\n");
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("%s\n", velmora::kVersion);
        return 0;
    }
    velmora::InitOptions options;
    const char* folder = nullptr;
    bool usable = true;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (!optionsEnd && argument == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && argument == kAcceptMissingRows) {
            options.acceptMissingRows = true;
        } else if (!optionsEnd && argument == kConvert) {
            options.convert = true;
        } else if (!optionsEnd && argument.size() > 1 && argument.front() == '-') {
            // Never a folder: "--version" made a collection of that name.
            const std::vector<std::string> known = {
                std::string(kConvert), std::string(kAcceptMissingRows), "--help", "--version"};
            const std::string meant = velmora::closestOption(argument, known);
            const std::string line = "velmora2-init: unknown option " + std::string(argument) +
                                     (meant.empty() ? "" : "; did you mean " + meant + "?") + "\n";
            std::fputs((line + kUsage).c_str(), stderr);
            return 2;
        } else if (folder == nullptr && !argument.empty()) {
            folder = argv[i];
        } else {
            usable = false;
        }
    }
    if (!usable || folder == nullptr) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const velmora::InitResult result = velmora::initCollection(folder, options);
    for (const std::string& line : result.lines) {
        std::puts(line.c_str());
    }
    if (!result.ok()) {
        std::fprintf(stderr, "velmora2-init: %s\n", result.error.c_str());
        return 1;
    }
    return 0;
}
