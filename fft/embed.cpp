// Writes fft_built_in_tables() to the file named by its argument, as raw
// doubles: the build's step that makes the tables the program holds
// (fft/tables.cpp).  Exit status 0, or 1 with the reason on standard error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fft/fft.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fft_embed FILE\n");
        return 1;
    }
    const std::vector<double> tables = drmpi::fft_built_in_tables();
    FILE* f = std::fopen(argv[1], "wb");
    bool written = f != nullptr;
    if (written) {
        written = std::fwrite(tables.data(), sizeof(double), tables.size(), f) == tables.size();
        written = std::fclose(f) == 0 && written;
    }
    if (!written) {
        std::fprintf(stderr, "fft_embed: cannot write %s: %s\n", argv[1], std::strerror(errno));
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
