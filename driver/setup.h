// The set-up dialogue and the sizes of a run.
#pragma once

#include <cstdint>
#include <string>

namespace drmpi {

struct Output;

// The texts of the set-up dialogue and of a run's header.  The file-name
// template has its '?' at character FileIdAt, where the series ID digit goes.
struct Method {
    const char* id_prompt;  // blank-filled to 28 characters
    const char* menu;       // blank-filled to 51 characters
    const char* file_template;
    const char* title;
    int largest_id;
};

inline constexpr Method Ramanujan = {
    " Type In ID, (ID=1,2,3)     ", " 1;Chudnovsky, 2;Fast-Ramanujan 3;Free-Sqrt        ",
    "RamnDRM?.txt", "DRM with Ramanujan", 3};
inline constexpr int FileIdAt = 7;

// The result file of series (0-based): RamnDRM1.txt, RamnDRM2.txt, RamnDRM3.txt.
std::string result_file_name(int series);

// Capacity of the dialogue in words: the largest FMT size that fits is 2^18,
// so the largest N is 1,310,700.
inline constexpr int ND = 270001;

// The sizes of a run of N decimal digits: the word count ceil(N / 5), the
// digits it holds (5 per word), and the FMT size, the smallest power of two
// that leaves at least four words beyond the word count, or with threes the
// smallest such length 2^k or 3 * 2^k (the command line's runs: they pay for
// their words rather than for the next power of two).  N >= 1.
struct RunSize {
    int64_t word_count;
    uint64_t digits;  // beyond int64 for N near 2^63
    int64_t fmt_size;
};
RunSize size_run(int64_t n, bool threes = false);

// What the set-up dialogue delivers.
struct RunSetup {
    int series;  // 0-based
    int64_t digits;  // N as typed
    RunSize size;
    std::string file_name;  // result_file_name(series)
};

// Asks for the series ID, prepares its result file, asks for N, sizes the run
// and shows the title and size lines on the console.  Ends the program with
// status 1 when the FMT size exceeds the dialogue's capacity ND, when N is
// below 1, when the file cannot be created or when the input ends; the result
// file is then left as it was.
RunSetup setup_run(Output& out);

}  // namespace drmpi
