#include "tests/support/temp_collection.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

// The probe started from `executable`, with a pipe to its input and one from
// its output.
class Probe {
public:
    explicit Probe(const fs::path& executable) {
        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) {
            throw std::runtime_error("pipe");
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            for (const int end : {in[0], in[1], out[0], out[1]}) {
                ::close(end);
            }
            ::execl(executable.c_str(), executable.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        m_input = in[1];
        m_output = ::fdopen(out[0], "r");
    }
    ~Probe() {
        ::close(m_input);
        std::fclose(m_output);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    // The folder the probe names now.
    std::string folder() {
        std::string line;
        for (int c = std::fgetc(m_output); c != EOF && c != '\n'; c = std::fgetc(m_output)) {
            line += static_cast<char>(c);
        }
        return line;
    }
    void ask() { EXPECT_EQ(::write(m_input, "\n", 1), 1); }

private:
    pid_t m_pid = -1;
    int m_input = -1;
    std::FILE* m_output = nullptr;
};

// The application folder is asked of the system at each use, as bytes: a
// collection renamed while the program runs is followed (and not the one put
// in its old place), and a folder name that is not UTF-8 comes back as it is.
TEST(ApplicationFolderTest, FollowsARenamedFolderAndKeepsItsBytes) {
    const TempDir dir;
    const fs::path first = dir.path() / "Zbirka \xE8\xFF";
    const fs::path moved = dir.path() / "Preimenovana";
    fs::create_directory(first);
    fs::copy_file(VELMORA_FOLDER_PROBE, first / "probe");
    fs::permissions(first / "probe", fs::perms::owner_all);

    Probe probe(first / "probe");
    EXPECT_EQ(probe.folder(), first.string());
    fs::rename(first, moved);
    fs::create_directory(first);
    probe.ask();
    EXPECT_EQ(probe.folder(), moved.string());
}

} // namespace
} // namespace velmora::testing
