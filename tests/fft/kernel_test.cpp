// The transform layer alone: its transform against the defining sum and back,
// plans under threads, and every instruction-set path and thread count
// against the others bit for bit.  Every spectrum and output lies between
// guard words.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fft/kernel.h"
#include "mp/parallel.h"
#include "support/oracle.h"

// The program's built-in tables (fft/tables.cpp).
extern "C" const double drmpi_fft_tables[], drmpi_fft_tables_end[];

namespace drmpi_test {
namespace {
using namespace drmpi;
using Words = std::vector<double>;
using FftKernel = ::testing::Test;

// The high (part 1) or the low (part 2) digit of the word w, w = h SplitBase +
// l with h the whole number nearest to w / SplitBase; part 0: w itself.
double digit(double w, int part) {
    const double h = std::nearbyint(w / SplitBase);
    return part == 0 ? w : part == 1 ? h : w - h * SplitBase;
}

// The spectrum of the words {a, n} (part 0) or of their digits, on plan p.
void forward(const FftPlan& p, const double* a, int part, double* spectrum) {
    part == 0 ? fft_forward_words(p, a, spectrum)
              : fft_forward_digits(p, a, part == 1 ? SplitDigit::High : SplitDigit::Low, spectrum);
}

// Everything the kernel computes from the words a and b on plan p, in one
// array: the spectra of a and b and of the high and the low digits of a (n >=
// 8), the error and the words of the inverse transform of A B + H L.
Words kernel_run(const FftPlan& p, const Words& a, const Words& b) {
    const int n = p.n, count = n >= 8 ? 4 : 2;
    Fenced s(2L * n * count), z(2 * n);
    for (int i = 0; i < count; ++i)
        forward(p, (i == 1 ? b : a).data(), i < 2 ? 0 : i - 1, s.data() + 2L * n * i);
    Words r(s.data(), s.data() + 2L * n * count);
    fft_mul(p, s.data(), s.data() + 2 * n, s.data());
    if (n >= 8) fft_mul_add(p, s.data() + 4 * n, s.data() + 6 * n, s.data());
    r.push_back(fft_inverse_words(p, s.data(), z.data()));
    r.insert(r.end(), z.data(), z.data() + 2 * n);
    EXPECT_TRUE(s.intact() && z.intact()) << "n = " << n;
    return r;
}

// The kernel's transform of the words, and of their high and low digits, at
// the lengths 2^k and 3 * 2^k: up to 2^10 points, where every kind of pass has
// appeared, the spectrum holds every frequency of the defining sum once, in
// the kernel's own order (each point, read in the layout of fft/kernel.h, lies
// within 1e-9 n of the frequency nearest to it, and no two points share one);
// at every length the inverse gives the words back, and the error it reports
// is the round trip's.
TEST_F(FftKernel, TransformMatchesTheDefiningSumAndInverts) {
    for (int n : transform_lengths(1 << 20))
        for (int part = 0; part < (n >= 8 ? 3 : 1); ++part) {
            const std::string what = "n " + std::to_string(n) + " part " + std::to_string(part);
            Words a(n), d(n), want(2 * n, 0.0);
            random_words(a.data(), n);
            for (int j = 0; j < n; ++j) want[j + 1] = d[j] = digit(a[j], part);
            Fenced spectrum(2 * n), z(2 * n);
            forward(fft_plan(n), a.data(), part, spectrum.data());
            const int block = std::min(n, 8), points = n <= 1 << 10 ? n : 0;
            const auto sum = weighted_transform(d.data(), points);
            std::vector<bool> taken(n);
            for (int q = 0; q < points; ++q) {
                const double* re = spectrum.data() + q / block * 2 * block + q % block;
                const std::complex<long double> got(re[0], re[block]);
                int k = 0;
                for (int i = 1; i < n; ++i)
                    if (std::norm(sum[i] - got) < std::norm(sum[k] - got)) k = i;
                EXPECT_LT(std::abs(sum[k] - got), 1e-9L * n) << what;
                EXPECT_FALSE(taken[k]) << what << " frequency " << k;
                taken[k] = true;
            }
            const double err = fft_inverse_words(fft_plan(n), spectrum.data(), z.data());
            EXPECT_EQ(Words(z.data(), z.data() + 2 * n), want) << what;
            EXPECT_LT(err, 1e-9) << what;
            EXPECT_TRUE(spectrum.intact() && z.intact()) << what;
        }
}

// The words given as the first count of n, the rest zero and not read, give
// the spectrum of the n words with those zeros, bit for bit, for the words and
// for their digits, as doubles and as 32-bit integers: the rest of the array
// holds NaN (or 2^30), which any read of it would carry into the spectrum.
TEST_F(FftKernel, GivenWordsAreTheWordsWithZerosBeyond) {
    for (int n : {4, 8, 24, 64, 1024, 3 << 10, 1 << 19})
        for (int count : {8, n / 16 * 8, n - 8, n}) {
            if (count > n || (count < 8 && count != n)) continue;
            Words a(n, 0.0);
            random_words(a.data(), count);
            Words given = a;
            std::fill(given.begin() + count, given.end(), std::nan(""));
            std::vector<int32_t> packed(n, 1 << 30);
            std::copy(a.begin(), a.begin() + count, packed.begin());
            const FftPlan& p = fft_plan(n);
            for (int part = 0; part < (n < 8 ? 1 : 3); ++part) {
                Fenced want(2 * n);
                forward(p, a.data(), part, want.data());
                for (const WordsView words : {WordsView(given.data()), WordsView(packed.data())}) {
                    Fenced got(2 * n);
                    const int c = count == n ? 0 : count;
                    part == 0 ? fft_forward_words(p, words, got.data(), c)
                              : fft_forward_digits(p, words,
                                                   part == 1 ? SplitDigit::High : SplitDigit::Low,
                                                   got.data(), c);
                    EXPECT_EQ(std::memcmp(want.data(), got.data(), 16L * n), 0)
                        << "n " << n << " count " << count << " part " << part << " packed "
                        << (words.packed != nullptr);
                }
            }
        }
}

// The words and the error of a product do not depend on which other lengths
// were planned before, nor on the thread.  Two threads look up and build the
// plans of every length at once, in opposite orders, and get the same plans.
TEST_F(FftKernel, PlansUnderThreadsAndOtherLengths) {
    const int n = 1 << 13;
    const Words a = operand(n, 2), b = operand(n, 2);
    const Words before = kernel_run(fft_plan(n), a, b);
    const FftPlan* seen[2][19];
    auto look = [&seen](int t) {
        for (int i = 0; i <= 18; ++i) {
            const int lg = t ? 18 - i : i;
            seen[t][lg] = &fft_plan(1 << lg);
        }
    };
    std::thread other(look, 1);
    look(0);
    other.join();
    for (int lg = 0; lg <= 18; ++lg) EXPECT_EQ(seen[0][lg], seen[1][lg]) << "2^" << lg;
    EXPECT_EQ(kernel_run(fft_plan(n), a, b), before);
}

// The tables built into the program (fft/tables.cpp) are those that this
// code computes, bit for bit: the short transforms read them, the long ones
// tables computed at run time.
TEST(FftTables, BuiltInAreComputedOnes) {
    const std::vector<double> computed = fft_built_in_tables();
    ASSERT_EQ(drmpi_fft_tables_end - drmpi_fft_tables, static_cast<ptrdiff_t>(computed.size()));
    EXPECT_EQ(std::memcmp(drmpi_fft_tables, computed.data(), computed.size() * sizeof(double)), 0);
}

// Every path this processor runs gives the same spectra, words and errors at
// every length (2^k, and 3 * 2^k for a kind of each pass below), and so does
// every thread count from 2^19 on, where the passes over the whole transform
// are shared among the threads: there with one kind of operand each, the
// extreme mix, then all +50000.  With one path the thread
// counts are still compared, and the test then reports itself skipped.
TEST_F(FftKernel, PathsAgreeBitForBit) {
    const int threads = thread_count();
    std::vector<int> lengths{24, 48, 96, 192, 3 << 10, 3 << 18};
    for (int n = 1; n <= 1 << 20; n *= n == 1 << 17 ? 4 : 2) lengths.push_back(n);
    for (int n : lengths)
        for (int kind : {0, 2, 3}) {
            if (n >= 1 << 19 && kind != (n == 1 << 19 ? 2 : 3)) continue;
            const Words a = operand(n, kind), b = operand(n, kind);
            Words first;
            for (FftIsa isa : {FftIsa::generic, FftIsa::avx2, FftIsa::avx512}) {
                if (!fft_isa_available(isa)) continue;
                for (int t = 1; t <= (n >= 1 << 19 ? 3 : 1); ++t) {
                    set_thread_count(t);
                    const Words r = kernel_run(fft_plan(n, isa), a, b);
                    if (first.empty()) first = r;
                    EXPECT_EQ(std::memcmp(r.data(), first.data(), 8 * r.size()), 0)
                        << "n " << n << " kind " << kind << " path " << static_cast<int>(isa)
                        << " threads " << t;
                }
            }
        }
    set_thread_count(threads);
    if (!fft_isa_available(FftIsa::avx2) && !fft_isa_available(FftIsa::avx512))
        GTEST_SKIP() << "one path here: only the thread counts compared";
}

// DRMPI_ISA forces the default path, and without it the default is the widest
// path that this processor runs; the plans of fft_plan(n) run the kernels of
// the default path.  The default is fixed once per process, so the test runs
// its own binary again, once per path and once with DRMPI_ISA unset; that run
// (DRMPI_ISA_CHECK set) compares the default with the path named.
TEST_F(FftKernel, DrmpiIsaForcesThePath) {
    const char* names[] = {"generic", "avx2", "avx512"};
    const FftKernels* copies[] = {&fft_generic::kernels, &fft_avx2::kernels,
                                  &fft_avx512::kernels};
    if (const char* forced = std::getenv("DRMPI_ISA_CHECK")) {
        EXPECT_STREQ(names[static_cast<int>(fft_default_isa())], forced);
        EXPECT_EQ(fft_plan(64).kernels, copies[static_cast<int>(fft_default_isa())]);
        return;
    }
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const int widest =
        __builtin_cpu_supports("avx512f") ? 2 : __builtin_cpu_supports("avx2") ? 1 : 0;
    for (int i = -1; i < 3; ++i) {  // -1: DRMPI_ISA unset
        if (i >= 0 && !fft_isa_available(static_cast<FftIsa>(i))) continue;
        const std::string set = i < 0 ? "-u DRMPI_ISA" : "DRMPI_ISA=" + std::string(names[i]);
        const std::string command = "env " + set + " DRMPI_ISA_CHECK=" +
                                    names[i < 0 ? widest : i] + " '" + self +
                                    "' --gtest_filter='FftKernel.DrmpiIsa*' >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << set;
    }
}

// fft_prepare builds its tables from cos and sin computed once for its
// longest length; plans built one at a time call sincos for every entry.
// Both give the same spectra and words bit for bit at every length up to
// 2^19, the whole tables' longest: the test runs its own binary again, which
// prepares 2^19 before any plan and writes what the kernel makes of fixed
// operands, and compares that with the same here, where the plans are built
// one at a time (or were, by earlier tests).
TEST_F(FftKernel, PreparedTablesEqualThoseBuiltOneAtATime) {
    const auto results = [] {
        Words all;
        for (int n = 1; n <= 1 << 19; n *= 2) {
            Words a(n), b(n);
            for (int j = 0; j < n; ++j) {
                a[j] = (j * 7919L) % 100000 - 50000;
                b[j] = (j * 104729L + 13) % 100000 - 50000;
            }
            const Words r = kernel_run(fft_plan(n), a, b);
            all.insert(all.end(), r.begin(), r.end());
        }
        return all;
    };
    const char* out = std::getenv("DRMPI_PREPARED_OUT");
    if (out != nullptr) {
        fft_prepare(1 << 19);
        const Words r = results();
        std::FILE* f = std::fopen(out, "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(r.data(), sizeof(double), r.size(), f), r.size());
        std::fclose(f);
        return;
    }
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string file = ::testing::TempDir() + "prepared_tables.bin";
    const std::string command = "DRMPI_PREPARED_OUT='" + file + "' '" + self +
                                "' --gtest_filter='FftKernel.Prepared*' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Words here = results();
    Words there(here.size() + 1);
    std::FILE* f = std::fopen(file.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fread(there.data(), sizeof(double), there.size(), f), here.size());
    std::fclose(f);
    std::remove(file.c_str());
    there.pop_back();
    EXPECT_EQ(std::memcmp(here.data(), there.data(), 8 * here.size()), 0);
}

}  // namespace
}  // namespace drmpi_test
