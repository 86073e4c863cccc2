#include "support/oracle.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <cstdlib>

#include "driver/cli.h"
#include "driver/drm.h"
#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"

namespace drmpi_test {

namespace {
struct Closed { long c; const char* q1; long a, b; bool alternating; };
const Closed Series[3] = {{6, "10939058860032000", 545140134, 13591409, true},
                          {4, "3073907232", 26390, 1103, false},
                          {4, "24893568", 21460, 1123, true}};
}  // namespace

mpz_class term_p(int s, long x) {
    return mpz_class(2 * x - 1) * (Series[s].c * (x - 1) + 1) * (Series[s].c * x - 1);
}
mpz_class term_q(int s, long k) { return mpz_class(Series[s].q1) * k * k * k; }
mpz_class term_t(int s, long k) {
    const int sign = Series[s].alternating && k % 2 ? -1 : 1;
    return sign * (mpz_class(Series[s].a) * k + Series[s].b);
}
long top_term(int s) {
    const int n = drmpi::MaxFmtSize;
    return static_cast<long>(drmpi::drm_step_count(s, n, n)) *
           (drmpi::step_width(n) / drmpi::TermWords);
}

Fenced::Fenced(int64_t count, double fill)
    : storage_(drmpi::allocate_doubles(count + 16)), data_(storage_.get() + 8), count_(count) {
    std::fill(data_ - 8, data_ + count + 8, Guard);
    std::fill(data_, data_ + count, fill);
}

StepStorage::StepStorage(int n) : p(n + 2), q(n + 2), t(n + 2), area(drmpi::drm_step_area(n)) {}

bool Fenced::intact() const {
    const auto guard = [](double w) { return w == Guard; };
    return std::all_of(data_ - 8, data_, guard) &&
           std::all_of(data_ + count_, data_ + count_ + 8, guard);
}

mpz_class vec_value(const double* v, int count) {
    // Halves joined by a power of Radix, each power made once: word by word
    // the cost would be quadratic, seconds for a product of 2^19 words.
    static std::map<int, mpz_class> powers;
    if (count <= 64) {
        const mpz_class radix(static_cast<long>(drmpi::Radix));
        mpz_class z = 0;
        for (int i = 0; i < count; ++i) z = z * radix + mpz_class(static_cast<long>(v[i]));
        return z;
    }
    const int low = count / 2;
    const auto [power, made] = powers.try_emplace(low);
    if (made) power->second = radix_power(low).get_num();
    return vec_value(v, count - low) * power->second + vec_value(v + count - low, low);
}

mpq_class radix_power(long e) {
    mpz_class p;
    mpz_ui_pow_ui(p.get_mpz_t(), static_cast<unsigned long>(drmpi::Radix),
                  static_cast<unsigned long>(e < 0 ? -e : e));
    return e < 0 ? mpq_class(1, p) : mpq_class(p);
}

mpq_class mp_value(const double* x, int n) {
    mpq_class q(vec_value(x + 1, n));
    q *= radix_power(static_cast<long>(x[0]) - n);
    q.canonicalize();
    return q;
}

std::vector<std::complex<long double>> weighted_transform(const double* a, int n) {
    // theta^j w^(jk) = exp(i pi e/(2n)), e = j - 4jk taken modulo 4n.
    std::vector<std::complex<long double>> root(4 * n), f(n);
    for (long e = 0; e < 4 * n; ++e) root[e] = std::polar(1.0L, std::acos(-1.0L) * e / (2 * n));
    for (long k = 0; k < n; ++k)
        for (long j = 0; j < n; ++j)
            f[k] += static_cast<long double>(a[j]) * root[(j + 4 * n - 4 * (j * k % n)) % (4 * n)];
    return f;
}

std::vector<int> transform_lengths(int max) {
    std::vector<int> n;
    for (int m = 1; m <= max; m *= 2) {
        n.push_back(m);
        if (m >= 16 && 3 * m / 2 <= max) n.push_back(3 * m / 2);
    }
    return n;
}

std::mt19937_64& rng() {
    static std::mt19937_64 gen = [] {
        const char* s = std::getenv("DRMPI_TEST_SEED");
        const uint64_t seed = s ? std::strtoull(s, nullptr, 10) : std::random_device{}();
        std::printf("DRMPI_TEST_SEED=%llu\n", static_cast<unsigned long long>(seed));
        return std::mt19937_64(seed);
    }();
    return gen;
}

int64_t uniform(int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(rng());
}

void random_words(double* v, int count, bool extreme) {
    for (int i = 0; i < count; ++i) {
        switch (extreme ? uniform(0, 7) : 2) {
            case 0: v[i] = 0.0; break;
            case 1: v[i] = 1.0; break;
            case 2: case 3: v[i] = uniform(-50000, 50000); break;
            default: v[i] = uniform(0, 1) ? 50000.0 : -50000.0;
        }
    }
}

std::vector<double> operand(int n, int kind) {
    std::vector<double> v(n, 5e4);
    if (kind < 3) random_words(v.data(), n, kind == 2);
    if (kind == 1) v[0] = 0.0;
    for (int i = 0; kind == 4 && i < n; ++i) v[i] = uniform(0, 1) ? 5e4 : -5e4;
    return v;
}

namespace {
std::mutex Lock;  // products report from any thread
double Largest = 0.0;
long Count = 0;
long Mark = -1;
double MarkValue = 0.0;
double follow(double error) {
    const std::lock_guard<std::mutex> hold(Lock);
    if (Count++ == Mark) error = MarkValue;
    Largest = std::max(Largest, error);
    return error;
}
}  // namespace

ProductErrors::ProductErrors(long mark, double value) : threads_(drmpi::thread_count()) {
    Largest = 0.0;
    Count = 0;
    Mark = mark;
    MarkValue = value;
    if (mark >= 0) drmpi::set_thread_count(1);
    drmpi::ProductErrorHook = follow;
}
ProductErrors::~ProductErrors() {
    drmpi::ProductErrorHook = nullptr;
    drmpi::set_thread_count(threads_);
}
double ProductErrors::largest() const { return Largest; }
long ProductErrors::count() const { return Count; }

}  // namespace drmpi_test
