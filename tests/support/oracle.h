// Exact values of DigitVectors and MpNumbers through GMP, and seeded random
// operands.  Set DRMPI_TEST_SEED to replay a run; the seed is printed once.
#pragma once

#include <gmpxx.h>
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"

namespace drmpi_test {

// The integer held by {v, count}, most significant word first, in base Radix.
mpz_class vec_value(const double* v, int count);

// The value of the MpNumber {x, n}: the digit words times Radix^(E - n).
mpq_class mp_value(const double* x, int n);

// Radix^e as a rational, for any whole e.
mpq_class radix_power(long e);

// The transform of the words {a, n} by its defining sum, in long double: F(k)
// = sum_j a[j] theta^j w^(jk) for k < n, theta = exp(i pi/(2n)), w = exp(-2 pi i/n).
std::vector<std::complex<long double>> weighted_transform(const double* a, int n);

// The transform lengths up to max, in increasing order: 1, 2, 4, 8, 16, 24,
// 32, 48, 64, 96, ... (2^k, and 3 * 2^k from 24 on).
std::vector<int> transform_lengths(int max);

// The generator of this test run.
std::mt19937_64& rng();

// A whole number from lo to hi, both included.
int64_t uniform(int64_t lo, int64_t hi);

// Fills {v, count} with random balanced words; with extreme set, about half of
// them are +-50000 and runs of zeros and lone ones appear, where carries and
// rounding errors are largest.
void random_words(double* v, int count, bool extreme = false);

// An operand of a product of n words of a kind: 0 random balanced words, 1
// the same with a zero leading word, 2 random_words' extreme mix, 3 every
// word +50000 (the largest outputs), 4 every word +-50000.
std::vector<double> operand(int n, int kind);

// The terms of series s (0-based) in closed form, written out rather than read
// from SeriesTable: p(x) = (2x-1)(cx-c+1)(cx-1), q(k) = q1 k^3, the weight
// s(k)(A k + B), and the largest k that any run reaches (the command line's
// longest, FMT size MaxFmtSize).
mpz_class term_p(int s, long x);
mpz_class term_q(int s, long k);
mpz_class term_t(int s, long k);
long top_term(int s);

// count doubles filled with `fill`, 64-byte aligned as spectra and work
// areas must be, between eight guard words on each side that intact() checks.
class Fenced {
  public:
    explicit Fenced(int64_t count, double fill = 0.0);
    double* data() { return data_; }
    const double* data() const { return data_; }
    bool intact() const;

  private:
    static constexpr double Guard = 0.375;  // never a whole number, so never a result word
    drmpi::Doubles storage_;
    double* data_;
    int64_t count_;
};

// The numbers (n + 2 words each, word n + 1 a sentinel for the tests) and the
// area of a DRM step of FMT size n, in fenced storage.
struct StepStorage {
    explicit StepStorage(int n);
    Fenced p, q, t, area;
    drmpi::StepArrays arrays() { return {p.data(), q.data(), t.data(), area.data()}; }
};

// Follows the rounding errors of the products made while one lives (through
// ProductErrorHook): their number and the largest.  The product numbered
// `mark` (from 0), if any, reports `value` instead of its own error, so that
// a test can see whether an operation passes that product's error on.  With a
// mark, the operations run on one thread, so that the numbering holds from run
// to run.  One at a time.
class ProductErrors {
  public:
    explicit ProductErrors(long mark = -1, double value = 0.0);
    ~ProductErrors();
    ProductErrors(const ProductErrors&) = delete;
    ProductErrors& operator=(const ProductErrors&) = delete;
    double largest() const;
    long count() const;

  private:
    int threads_;
};

}  // namespace drmpi_test
