#include "cli/add/add_command_line.h"

#include "catalogue/utf8.h"
#include "cli/add/list_decoder.h"
#include "cli/add/option_suggestion.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <sstream>
#include <utility>

namespace velmora {
namespace {

constexpr const char* kMoreHelp = "Run with --help for more information.\n";

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

// What is wrong with arguments that no option took: the first unknown option,
// with the option it most likely meant, else the first stray argument.
std::string describeExtras(const CLI::App& app, const std::vector<std::string>& extras) {
    for (const std::string& extra : extras) {
        if (extra.size() > 1 && extra.front() == '-') {
            const std::string name = extra.substr(0, extra.find('='));
            const std::string meant = closestOption(name, optionNames(app));
            return "velmora2-add: unknown option " + name +
                   (meant.empty() ? "" : "; did you mean " + meant + "?") + "\n";
        }
    }
    return "velmora2-add: unexpected argument " + (extras.empty() ? "" : extras.front()) + "\n";
}

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
               "Exit status: 0 all added, 1 any refused or failed (or the CSV cut short after\n"
               "an entry was tried), 2 bad arguments, a bad CSV or no catalogue in the\n"
               "collection (nothing added), 3 report lost (its reader went away; the entry\n"
               "under way was finished), 128+N interrupted by signal N (129 SIGHUP, 130\n"
               "SIGINT, 131 SIGQUIT, 143 SIGTERM).");

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
        result.errors = describeExtras(app, app.remaining()) + kMoreHelp;
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
