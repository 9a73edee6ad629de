#include "cli/list/list_command_line.h"

#include "cli/add/unknown_option.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <sstream>

namespace velmora {

ListCommandLine parseListCommandLine(int argc, const char* const* argv) {
    CLI::App app("Lists the catalogue of a collection (SQLite or Access), read-only, and says "
                 "whether each program folder holds both its files.",
                 "velmora2-list");
    app.set_version_flag("--version", std::string(kVersion));
    app.footer(
        "PATTERN matches a part of the name or the category, in any letter case and\n"
        "with or without accents (\"sah\" finds \"Šah\").\n"
        "Files: both, no Setup.exe, no Picture.bmp, neither file, or no folder.\n"
        "The CSV form is what velmora2-add --csv reads, its Source and Slika the program\n"
        "folder's Setup.exe and Picture.bmp, so that\n"
        "  velmora2-list --csv > list.csv && velmora2-add --collection OTHER --csv list.csv\n"
        "copies a collection into another.\n"
        "Exit status: 0 listed, 1 the catalogue could not be read or the list not\n"
        "written, 2 bad arguments or no catalogue in the collection.");
    ListOptions options;
    app.add_option("--collection", options.collection,
                   "collection folder (default: the folder that holds velmora2-list)")
        ->option_text("DIR")
        ->check(CLI::ExistingDirectory);
    bool csv = false;
    bool json = false;
    CLI::Option* csvFlag = app.add_flag("--csv", csv, "the list that velmora2-add --csv reads");
    app.add_flag("--json", json, "one JSON object per line")->excludes(csvFlag);
    app.add_flag("--count", options.count, "print only the number of entries");
    app.add_option("PATTERN", options.pattern, "list only the entries it matches");

    ListCommandLine result;
    std::ostringstream out;
    std::ostringstream err;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ExtrasError&) {
        result.exitStatus = 2;
        result.errors = describeExtras(app, app.remaining(), "velmora2-list") +
                        "Run with --help for more information.\n";
        return result;
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error, out, err);
        result.exitStatus = status == 0 ? 0 : 2;
        result.output = out.str();
        result.errors = err.str();
        return result;
    }
    options.format = csv ? ListFormat::Csv : json ? ListFormat::Json : ListFormat::Text;
    result.options = std::move(options);
    return result;
}

} // namespace velmora
