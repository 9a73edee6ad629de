// Prints the folder of its own executable, once at start and once more for
// every line read from standard input, so a test can move it meanwhile.
#include "catalogue/application_folder.h"

#include <cstdio>
#include <string>

int main() {
    for (int c = '\n'; c != EOF; c = std::getchar()) {
        if (c == '\n') {
            const std::string folder = velmora::executableFolder();
            std::fwrite(folder.data(), 1, folder.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
    }
}
