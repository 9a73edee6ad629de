#include "cli/add/add_command_line.h"

#include "catalogue/utf8.h"
#include "cli/add/list_decoder.h"
#include "cli/add/option_suggestion.h"
#include "cli/add/unknown_option.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <sstream>
#include <utility>

namespace velmora {
namespace {

constexpr const char* kMoreHelp = "Run with --help for more information.\n";

} // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CLI::App app("Adds programs to a collection's catalogue and copies their setup file and "
                 "picture into Programi/<name>/, one entry or a CSV list.",
                 "velmora2-add");
    app.set_version_flag("--version", std::string(kVersion));
    app.footer("One entry:  velmora2-add --program NAME [--category CAT] [--description TEXT]\n"
               "                         --setup PATH --picture PATH\n"
               "Many:       velmora2-add --csv FILE    (- for standard input)\n"
               "The CSV's first row names the columns Kategorija, Program, Opis, Source, Slika\n"
               "in any order, separated by commas, semicolons or tabs; relative paths are\n"
               "taken from the CSV file's folder.\n"
               "Results: one line per entry on standard output, \"RESULT LINE PROGRAM\" (LINE\n"
               "is the CSV line, - for the command line's entry), RESULT one of added, refused,\n"
               "failed, skipped (--skip-existing) or checked (--dry-run); with --json one\n"
               "object per line: result, line, program, messages. Progress, messages and the\n"
               "summary, which names the lines refused and failed, go to standard error.\n"
               "Exit status: 0 all added (or skipped, or checked), 1 any refused or failed (or\n"
               "the CSV cut short after an entry was tried), 2 bad arguments, a bad CSV or no\n"
               "catalogue in the collection (nothing added), 3 report lost (its reader went\n"
               "away; the entry under way was finished), 128+N interrupted by signal N (129\n"
               "SIGHUP, 130 SIGINT, 131 SIGQUIT, 143 SIGTERM).");

    AddOptions options;
    options.entry.text(Field::Kategorija) = "CDDVD";
    std::string csvFile;
    // option_text() gives each option its one placeholder in the help, without
    // CLI11's "Excludes: ..." lists and validator names beside it.
    CLI::Option* csv = app.add_option("--csv", csvFile,
                                      "CSV list of entries, - for standard input; cannot be "
                                      "combined with the options of one entry")
                           ->option_text("FILE");
    app.add_option("--encoding", options.encoding,
                   "the CSV list's encoding, e.g. windows-1250 (default: UTF-8, or UTF-16 "
                   "with a byte order mark)")
        ->option_text("NAME")
        ->needs(csv);
    const auto entryOption = [&](const char* name, Field field, const char* type,
                                 const std::string& help) {
        return app
            .add_option(name, options.entry.text(field), help + "; cannot be combined with --csv")
            ->option_text(type)
            ->excludes(csv);
    };
    CLI::Option* program = entryOption("--program", Field::Program, "NAME", "program name");
    entryOption("--category", Field::Kategorija, "CAT", "category (default CDDVD)");
    entryOption("--description", Field::Opis, "TEXT", "description, at most 49 characters");
    CLI::Option* setup =
        entryOption("--setup", Field::Source, "PATH", "setup file, copied as Setup.exe");
    CLI::Option* picture =
        entryOption("--picture", Field::Slika, "PATH", "picture, copied as Picture.bmp");
    app.add_option("--collection", options.collection,
                   "collection folder (default: the folder that holds velmora2-add)")
        ->option_text("DIR")
        ->check(CLI::ExistingDirectory);
    app.add_flag("-q,--quiet", options.quiet, "print only failures");
    app.add_flag("--skip-existing", options.skipExisting,
                 "skip an entry whose name is in the catalogue already (in any letter case, "
                 "as Windows compares folder names); default: add it again, replacing its files");
    app.add_flag("--dry-run", options.dryRun,
                 "make every check of an add (fields, names, both files opened, the catalogue "
                 "writable, the Access file's rules) and write nothing");
    app.add_flag("--json", options.json, "results as JSON lines");

    CommandLine result;
    std::ostringstream out;
    std::ostringstream err;
    try {
        app.parse(argc, argv);
        if (csv->count() == 0 &&
            (program->count() == 0 || setup->count() == 0 || picture->count() == 0)) {
            throw CLI::ValidationError("give --program, --setup and --picture, or --csv FILE");
        }
        // Texts of the catalogue and a folder's name are UTF-8, as a list's
        // are; the paths stay bytes, as the file system holds them.
        for (const auto& [name, field] : {std::pair{"--program", Field::Program},
                                          {"--category", Field::Kategorija},
                                          {"--description", Field::Opis}}) {
            const std::string& text = options.entry.text(field);
            if (const std::size_t at = firstNonUtf8(text); at != text.size()) {
                throw CLI::ValidationError(std::string(name) + ": byte " + hexByte(text[at]) +
                                           " at " + std::to_string(at + 1) +
                                           " is not UTF-8 (is the terminal set to UTF-8?)");
            }
        }
    } catch (const CLI::ExtrasError&) {
        result.exitStatus = kBadArguments;
        result.errors = describeExtras(app, app.remaining(), "velmora2-add") + kMoreHelp;
        return result;
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error, out, err);
        result.exitStatus = status == 0 ? 0 : kBadArguments;
        result.output = out.str();
        result.errors = err.str();
        return result;
    }
    if (csv->count() != 0) {
        options.csvFile = std::move(csvFile);
    }
    result.options = std::move(options);
    return result;
}

} // namespace velmora
