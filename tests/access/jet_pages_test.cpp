#include "access/jet_pages.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velmora::jet {
namespace {

constexpr std::uint32_t kPages = 40;

std::vector<unsigned char> le32(std::uint32_t value) {
    return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

std::vector<unsigned char> concat(std::vector<std::vector<unsigned char>> parts) {
    std::vector<unsigned char> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct MapCase {
    const char* name;
    std::vector<unsigned char> map;
    std::optional<std::vector<std::uint32_t>> pages; // nothing: every page
    std::string refusal = {};                        // what the JetError says instead
    friend void PrintTo(const MapCase& c, std::ostream* out) { *out << c.name; }
};

class UsageMapTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(UsageMapTest, NamesEachPageOnceOrRefuses) {
    const MapCase& c = GetParam();
    // A file of kPages Jet 4 pages whose bitmap pages (kind 1 maps) each mark
    // page 2 * n + 1 of their range, n being their own page number.
    std::vector<unsigned char> bytes;
    const PageSource bitmapPage = [&](std::uint32_t page) {
        bytes.assign(kJet4Format.pageSize, 0);
        bytes[0] = 0x05;
        const std::uint32_t marked = 2 * page + 1;
        bytes[4 + marked / 8] = static_cast<unsigned char>(1U << (marked % 8));
        return std::span<const unsigned char>(bytes);
    };
    try {
        EXPECT_EQ(usageMapPages(kJet4Format, kPages, c.map, bitmapPage, "the map"), c.pages);
        EXPECT_TRUE(c.refusal.empty());
    } catch (const JetError& error) {
        EXPECT_EQ(error.what(), "it is damaged: the map " + c.refusal);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Maps, UsageMapTest,
    ::testing::Values(MapCase{"InlineFromAStartPage", concat({{0}, le32(8), {0x05, 0x80}}),
                              std::vector<std::uint32_t>{8, 10, 23}},
                      // 2^32 - 8 + 12 is page 4 in 32 bits: a lookup that wraps meets it for ever.
                      MapCase{"InlineWrapsAround", concat({{0}, le32(0xFFFFFFF8), {0, 0x10}}),
                              std::nullopt, "names page 4294967300 of 40"},
                      MapCase{"InlinePastTheFile", concat({{0}, le32(32), {0, 0x01}}), std::nullopt,
                              "names page 40 of 40"},
                      // Each bitmap page covers (4096 - 4) * 8 pages: the second starts at 32,736.
                      MapCase{"OfPages", concat({{1}, le32(3), le32(0)}),
                              std::vector<std::uint32_t>{7}},
                      MapCase{"OfPagesPastTheFile", concat({{1}, le32(0), le32(7)}), std::nullopt,
                              "names page 32751 of 40"},
                      MapCase{"OfPagesMeetsAPageTwice", concat({{1}, le32(3), le32(3)}),
                              std::nullopt, "meets page 3 twice"},
                      MapCase{"OfPagesOutsideTheFile", concat({{1}, le32(40)}), std::nullopt,
                              "points to page 40 of 40"},
                      MapCase{"UnknownKind", {7, 1, 2, 3}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velmora::jet
