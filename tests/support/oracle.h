// Exact values of DigitVectors and MpNumbers through GMP, and seeded random
// operands.  Set DRMPI_TEST_SEED to replay a run; the seed is printed once.
#pragma once

#include <gmpxx.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace drmpi_test {

// Every test of the arithmetic starts and ends in balanced carry mode, the
// mode of the whole computation, whatever mode a test switches to.
class Balanced : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

// The integer held by {v, count}, most significant word first, in base Radix.
mpz_class vec_value(const double* v, int count);

// The value of the MpNumber {x, n}: the digit words times Radix^(E - n).
mpq_class mp_value(const double* x, int n);

// Radix^e as a rational, for any whole e.
mpq_class radix_power(long e);

// The generator of this test run.
std::mt19937_64& rng();

// A whole number from lo to hi, both included.
int64_t uniform(int64_t lo, int64_t hi);

// Fills {v, count} with random balanced words; with extreme set, about half of
// them are +-50000 and runs of zeros and lone ones appear, where carries and
// rounding errors are largest.
void random_words(double* v, int count, bool extreme = false);

// Follows the rounding errors of the products made while one lives (through
// ProductErrorHook): their number and the largest.  The product numbered
// `mark` (from 0), if any, reports `value` instead of its own error, so that
// a test can see whether an operation passes that product's error on.  One
// at a time.
class ProductErrors {
  public:
    explicit ProductErrors(long mark = -1, double value = 0.0);
    ~ProductErrors();
    ProductErrors(const ProductErrors&) = delete;
    ProductErrors& operator=(const ProductErrors&) = delete;
    double largest() const;
    long count() const;
};

}  // namespace drmpi_test
