// gmp_chudnovsky DIGITS FILE: writes "3." and the first DIGITS decimal digits
// of pi after the point, truncated, and a newline to FILE.
//
// A yardstick for drmpi: the Chudnovsky series by binary splitting on GMP
// integers, one thread, as a short program would do it.  With
//     p(k) = (6k-5)(2k-1)(6k-1),  q(k) = k^3 640320^3 / 24,  a(k) = 13591409 + 545140134 k,
// (p(0) = q(0) = 1) the split of the terms [lo, hi) gives P = prod p(k),
// Q = prod q(k) and T = sum (-1)^k a(k) p(lo)...p(k) q(k+1)...q(hi-1), so that
//     pi = 426880 sqrt(10005) Q(0, n) / T(0, n)   for n terms.
#include <gmp.h>

#include <cstdio>

#include "yardstick.h"

namespace {

constexpr unsigned long A = 13591409;
constexpr unsigned long B = 545140134;
// 640320^3 / 24, exactly.
constexpr unsigned long C3_24 = 10939058860032000UL;
// Digits that one term adds: log10(640320^3 / 1728).
constexpr double DigitsPerTerm = 14.181647462725477;
// Digits computed beyond those written, to decide the truncation.
constexpr long Guard = 20;

struct Split {
    mpz_t p, q, t;
};

void split_init(Split& s) { mpz_inits(s.p, s.q, s.t, nullptr); }
void split_clear(Split& s) { mpz_clears(s.p, s.q, s.t, nullptr); }

// s := the split of the terms [lo, hi), lo < hi.  P is formed only when
// need_p is set: the outermost split never uses its own P.
void split(Split& s, unsigned long lo, unsigned long hi, bool need_p) {
    if (hi - lo == 1) {
        const unsigned long k = lo;
        if (k == 0) {
            mpz_set_ui(s.p, 1);
            mpz_set_ui(s.q, 1);
        } else {
            mpz_set_ui(s.p, 6 * k - 5);
            mpz_mul_ui(s.p, s.p, 2 * k - 1);
            mpz_mul_ui(s.p, s.p, 6 * k - 1);
            mpz_set_ui(s.q, k);
            mpz_mul_ui(s.q, s.q, k);
            mpz_mul_ui(s.q, s.q, k);
            mpz_mul_ui(s.q, s.q, C3_24);
        }
        mpz_set_ui(s.t, B);
        mpz_mul_ui(s.t, s.t, k);
        mpz_add_ui(s.t, s.t, A);
        mpz_mul(s.t, s.t, s.p);
        if (k % 2 == 1) mpz_neg(s.t, s.t);
        return;
    }
    const unsigned long mid = lo + (hi - lo) / 2;
    Split right;
    split_init(right);
    split(s, lo, mid, true);
    split(right, mid, hi, need_p);
    // T := T(lo, mid) Q(mid, hi) + P(lo, mid) T(mid, hi).
    mpz_mul(s.t, s.t, right.q);
    mpz_mul(right.t, right.t, s.p);
    mpz_add(s.t, s.t, right.t);
    mpz_mul(s.q, s.q, right.q);
    if (need_p) mpz_mul(s.p, s.p, right.p);
    split_clear(right);
}

// out := floor(pi 10^digits), from `guard` digits more; returns false when
// those guard digits leave the last digit in doubt.
bool pi_scaled(mpz_t out, long digits, long guard) {
    const long scaled = digits + guard;
    const unsigned long terms = static_cast<unsigned long>(scaled / DigitsPerTerm) + 2;
    Split s;
    split_init(s);
    split(s, 0, terms, false);

    // sqrt(10005) 10^scaled, truncated, then the one division.
    mpz_t root, unit;
    mpz_inits(root, unit, nullptr);
    mpz_ui_pow_ui(unit, 10, static_cast<unsigned long>(scaled));
    mpz_mul(root, unit, unit);
    mpz_mul_ui(root, root, 10005);
    mpz_sqrt(root, root);
    mpz_mul_ui(root, root, 426880);
    mpz_mul(root, root, s.q);
    mpz_tdiv_q(out, root, s.t);

    // The truncated root, the quotient and the series' tail leave out within
    // two units of pi 10^scaled (426880 Q / T is pi / sqrt(10005) < 1); the
    // digits kept are right unless the guard digits lie that close to a
    // multiple of 10^guard.
    mpz_ui_pow_ui(unit, 10, static_cast<unsigned long>(guard));
    mpz_tdiv_qr(out, root, out, unit);
    mpz_add_ui(root, root, 2);
    const bool sure = mpz_cmp_ui(root, 4) >= 0 && mpz_cmp(root, unit) < 0;
    mpz_clears(root, unit, nullptr);
    split_clear(s);
    return sure;
}

}  // namespace

int main(int argc, char** argv) {
    const long digits = yardstick_digits(argc, argv);
    if (digits == 0) return 2;
    mpz_t pi;
    mpz_init(pi);
    if (!pi_scaled(pi, digits, Guard)) {
        std::fprintf(stderr, "%s: the digit after position %ld is undecided\n", argv[0], digits);
        return 1;
    }
    return yardstick_write(argv, mpz_get_str(nullptr, 10, pi) + 1);
}
