#pragma once

#include "tests/support/files.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::testing {

// One catalogue row as stored.
struct Row {
    std::string kategorija;
    std::string program;
    std::string opis;
    bool operator==(const Row&) const = default;
};

// A temporary folder, removed with everything in it at the end of its life.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

// A temporary collection made by velmora2-init's code: Velmora2.db with table
// CD, and Programi.
class TempCollection : public TempDir {
public:
    TempCollection();

    std::string database() const { return (path() / "Velmora2.db").string(); }
    std::filesystem::path programFolder(const std::string& name) const {
        return path() / "Programi" / name;
    }
    std::vector<Row> rows() const;
    void addRows(int count, const Row& row) const;
};

// The rows of table CD in a catalogue, in the order they were stored.
std::vector<Row> readRows(const std::string& databasePath);

} // namespace velmora::testing
