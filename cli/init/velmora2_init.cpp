// velmora2-init [--convert] [--accept-missing-rows] FOLDER: makes an empty collection that
// Velmora2ADD can add to, checks that an Access catalogue brought from Windows can be added to in
// place, or converts it on request.
#include "cli/init/collection_init.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kAcceptMissingRows = "--accept-missing-rows";
constexpr std::string_view kConvert = "--convert";

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "-h" || std::string_view(argv[1]) == "--help")) {
        std::puts("usage: velmora2-init [--convert] [--accept-missing-rows] FOLDER\n"
                  "Makes FOLDER/Velmora2.db (table CD) and FOLDER/Programi; an existing\n"
                  "catalogue is left as it is. An Access 2000 (Jet 4) Velmora2.db is added\n"
                  "to in place and stays readable by its Windows programs.\n"
                  "--convert: convert an Access (Jet 4 or Jet 3) Velmora2.db into an SQLite\n"
                  "catalogue; the original is kept beside it as Velmora2.jet4.db\n"
                  "(Velmora2.jet3.db), or the next free name. A table whose rows differ\n"
                  "from the count its definition records is refused unless\n"
                  "--accept-missing-rows is given: then the rows found are converted.");
        return 0;
    }
    velmora::InitOptions options;
    const char* folder = nullptr;
    bool usable = true;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == kAcceptMissingRows) {
            options.acceptMissingRows = true;
        } else if (argv[i] == kConvert) {
            options.convert = true;
        } else if (folder == nullptr && argv[i][0] != '\0') {
            folder = argv[i];
        } else {
            usable = false;
        }
    }
    if (!usable || folder == nullptr) {
        std::fputs("usage: velmora2-init [--convert] [--accept-missing-rows] FOLDER\n", stderr);
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
