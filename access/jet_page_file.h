#pragma once

#include "access/jet_bytes.h"
#include "access/jet_format.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::jet {

// The largest page of a version the writer writes (Jet 4's); a file's own
// page size comes from its JetFormat.
inline constexpr std::size_t kJetPageSize = 4096;

using Page = std::array<unsigned char, kJetPageSize>;

// What a changed page holds, which decides when it is written (invariant 2
// of jet_writer.h): pages that others point to go before the pages that point
// to them, so a file cut off between two writes never points past what it
// holds.
enum class WriteStage {
    Rows,       // a data or long-value page: the rows themselves
    Maps,       // a usage map's row or bitmap page, the file's map of pages
    Index,      // an index page
    Definition, // the table definition: row count, autonumber, index roots
};

// The pages of a Jet file open as `fd` (not owned), read on demand and kept,
// with the changes of one add held in memory until write(): nothing reaches
// the file before the journal holds the originals of the pages that change.
class PageFile {
public:
    // `name` is the file's name, for messages. Throws JetWriteError (Damaged)
    // for a file that is not a whole number of the format's pages.
    PageFile(int fd, const JetFormat& format, std::string_view name);

    const JetFormat& format() const { return m_format; }
    const std::string& name() const { return m_name; }
    // Pages in the file before this add, and with the pages appended since.
    std::uint32_t originalPageCount() const { return m_originalCount; }
    std::uint32_t pageCount() const { return m_count; }
    std::uint64_t originalSize() const {
        return std::uint64_t{m_originalCount} * m_format.pageSize;
    }

    // The page as the add sees it. A number past the end is a damaged
    // pointer: JetWriteError (Damaged) naming `what` pointed there.
    const Page& page(std::uint32_t number, const std::string& what);
    Bytes bytes(std::uint32_t number, const std::string& what) {
        return Bytes(page(number, what)).first(m_format.pageSize);
    }
    // The page, to be changed by this add and written at `stage`.
    Page& change(std::uint32_t number, const std::string& what,
                 WriteStage stage = WriteStage::Rows);
    MutableBytes changeBytes(std::uint32_t number, const std::string& what,
                             WriteStage stage = WriteStage::Rows) {
        return MutableBytes(change(number, what, stage)).first(m_format.pageSize);
    }
    // A new zeroed page at the end of the file. Only the PageAllocator
    // appends, so that the file's map of pages stays true.
    std::uint32_t append();

    // The pages that existed and change, with their original bytes.
    std::vector<std::pair<std::uint32_t, const Page*>> originals() const;
    // Every page this add writes (changed or appended), with its new bytes.
    std::vector<std::pair<std::uint32_t, const Page*>> written() const;
    // Writes the appended pages and flushes them, then the changed pages
    // stage by stage, each stage flushed before the next.
    void write();

private:
    Page& load(std::uint32_t number, const std::string& what);
    void writePage(std::uint32_t number);
    void flush();

    int m_fd;
    const JetFormat& m_format;
    std::string m_name;
    std::uint32_t m_originalCount = 0;
    std::uint32_t m_count = 0;
    std::map<std::uint32_t, std::unique_ptr<Page>> m_pages;
    std::map<std::uint32_t, std::unique_ptr<Page>> m_originals;
    std::map<std::uint32_t, WriteStage> m_changed;
};

} // namespace velmora::jet
