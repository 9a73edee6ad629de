// velmora2-init FOLDER: makes an empty collection that Velmora2ADD can add to,
// or converts the Access catalogue of a collection brought from Windows.
#include "cli/init/collection_init.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kAcceptMissingRows = "--accept-missing-rows";

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "-h" || std::string_view(argv[1]) == "--help")) {
        std::puts("usage: velmora2-init FOLDER [--accept-missing-rows]\n"
                  "Makes FOLDER/Velmora2.db (table CD) and FOLDER/Programi; an existing\n"
                  "catalogue is left as it is. An Access (Jet 4 or Jet 3) Velmora2.db is\n"
                  "converted into an SQLite catalogue; the original is kept beside it as\n"
                  "Velmora2.jet4.db (Velmora2.jet3.db), or the next free name. A table\n"
                  "whose rows differ from the count its definition records is refused\n"
                  "unless --accept-missing-rows is given: then the rows found are converted.");
        return 0;
    }
    velmora::InitOptions options;
    const char* folder = nullptr;
    bool usable = true;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == kAcceptMissingRows) {
            options.acceptMissingRows = true;
        } else if (folder == nullptr && argv[i][0] != '\0') {
            folder = argv[i];
        } else {
            usable = false;
        }
    }
    if (!usable || folder == nullptr) {
        std::fputs("usage: velmora2-init FOLDER [--accept-missing-rows]\n", stderr);
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
