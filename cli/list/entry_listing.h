#pragma once

#include "catalogue/program_files.h"
#include "catalogue/stored_entries.h"

#include <cstdio>
#include <string>
#include <vector>

namespace velmora {

enum class ListFormat {
    Text, // aligned columns for a person, one line per entry
    Csv,  // the list that velmora2-add --csv reads, so a collection goes into another
    Json, // one JSON object per line
};

// The header of the CSV form: the columns velmora2-add --csv reads.
inline constexpr const char* kCsvHeader = "Kategorija,Program,Opis,Source,Slika";

// Writes the entries to `out` in `format`, each with what its folder holds
// (`files`, in the same order; their paths joined by `folders`); false when a
// write failed.
bool writeListing(std::FILE* out, ListFormat format, const std::vector<StoredEntry>& entries,
                  const std::vector<ProgramFiles>& files, const ProgramFolders& folders);

// The Files column of the text form: "both", "no Setup.exe", ... "no folder".
std::string filesState(const ProgramFiles& files);

} // namespace velmora
