// velmora2-init [--convert] FOLDER: makes an empty collection that Velmora2ADD
// can add to, checks that an Access catalogue brought from Windows can be
// added to in place, or converts it on request.
#include "cli/init/collection_init.h"

#include <cstdio>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    const std::string_view first = argc > 1 ? argv[1] : "";
    if (argc == 2 && (first == "-h" || first == "--help")) {
        std::puts("usage: velmora2-init [--convert] FOLDER\n"
                  "Makes FOLDER/Velmora2.db (table CD) and FOLDER/Programi; an existing\n"
                  "catalogue is left as it is. An Access 2000 (Jet 4) Velmora2.db is added\n"
                  "to in place and stays readable by its Windows programs.\n"
                  "--convert: convert an Access (Jet 4 or Jet 3) Velmora2.db into an SQLite\n"
                  "catalogue; the original is kept beside it as Velmora2.jet4.db\n"
                  "(Velmora2.jet3.db), or the next free name.");
        return 0;
    }
    const bool convert = first == "--convert";
    const int folderAt = convert ? 2 : 1;
    if (argc != folderAt + 1 || argv[folderAt][0] == '\0') {
        std::fputs("usage: velmora2-init [--convert] FOLDER\n", stderr);
        return 2;
    }
    const velmora::InitResult result = velmora::initCollection(argv[folderAt], convert);
    for (const std::string& line : result.lines) {
        std::puts(line.c_str());
    }
    if (!result.ok()) {
        std::fprintf(stderr, "velmora2-init: %s\n", result.error.c_str());
        return 1;
    }
    return 0;
}
