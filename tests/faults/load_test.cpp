// A thousand adds in a row into one collection through the real add
// operation: every row and folder arrives, and neither open descriptors nor
// memory grow. The timings are printed for the record, never asserted.
#include "catalogue/add_operation.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_collection.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

// AddressSanitizer holds freed memory back in quarantine, so resident memory
// says nothing there; LeakSanitizer checks for leaks instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryIsMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryIsMeaningful = false;
#else
constexpr bool kMemoryIsMeaningful = true;
#endif
#else
constexpr bool kMemoryIsMeaningful = true;
#endif

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

TEST(LoadTest, AThousandAddsKeepDescriptorsAndMemoryFlat) {
    constexpr int kAdds = 1000;
    constexpr int kWarmUp = 100;
    const TempCollection collection;
    const TempDir sources;
    writeFile(sources.path() / "setup.exe", std::string(4096, 'S'));
    writeFile(sources.path() / "picture.bmp", std::string(1024, 'P'));

    int descriptorsAfterWarmUp = 0;
    long memoryAfterWarmUp = 0;
    double firstMs = 0;
    double lastMs = 0;
    for (int i = 0; i < kAdds; ++i) {
        RecordingWindow window(collection.str());
        window.setEntry("Ostalo", "Program " + std::to_string(i), "Load " + std::to_string(i),
                        (sources.path() / "setup.exe").string(),
                        (sources.path() / "picture.bmp").string());
        const auto start = std::chrono::steady_clock::now();
        Dodaj(window);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        ASSERT_TRUE(window.boxes().empty()) << i << ": " << window.boxes().front().text;
        if (i < kWarmUp) {
            firstMs += ms;
        } else if (i >= kAdds - kWarmUp) {
            lastMs += ms;
        }
        if (i == kWarmUp - 1) {
            descriptorsAfterWarmUp = openDescriptorCount();
            memoryAfterWarmUp = residentKiB();
        }
        if (i >= kWarmUp && i % 100 == 0) {
            ASSERT_EQ(openDescriptorCount(), descriptorsAfterWarmUp) << "after add " << i;
        }
    }
    const long memoryGrowth = residentKiB() - memoryAfterWarmUp;
    std::printf("load: %d adds; descriptors %d throughout; resident memory grew %ld KiB after "
                "add %d; mean add %.2f ms (adds 1-100) and %.2f ms (adds 901-1000)\n",
                kAdds, descriptorsAfterWarmUp, memoryGrowth, kWarmUp, firstMs / kWarmUp,
                lastMs / kWarmUp);
    EXPECT_EQ(openDescriptorCount(), descriptorsAfterWarmUp);
    // A leak of even a kilobyte per add would show as a megabyte here.
    if (kMemoryIsMeaningful) {
        EXPECT_LT(memoryGrowth, 1024);
    }

    EXPECT_EQ(collection.rows().size(), static_cast<std::size_t>(kAdds));
    int folders = 0;
    for (const auto& entry : fs::directory_iterator(collection.path() / "Programi")) {
        folders +=
            fs::exists(entry.path() / "Setup.exe") && fs::exists(entry.path() / "Picture.bmp");
    }
    EXPECT_EQ(folders, kAdds);
}

} // namespace
} // namespace velmora::testing
