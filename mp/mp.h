// Multiple-precision arithmetic on arrays of doubles.
//
// A DigitVector {v, count} is a run of doubles holding whole numbers, most
// significant first, valued as an integer in base Radix:
//     v[0]*Radix^(count-1) + ... + v[count-1].
// Words may be negative and may lie outside [-Radix, Radix] until normalised.
//
// An MpNumber of length n is n + 1 doubles: x[0] is the exponent E (a whole
// number, possibly zero or negative), x[1..n] the digit words d1..dn, and the
// value is the sum of di * Radix^(E - i).  After any producing operation the
// words d2..dn lie in the range of its carry mode and d1 is non-zero but
// unreduced: it keeps every carry and may be Radix or more in magnitude.  A
// zero has all digit words zero and an exponent without meaning.
//
// Operations of linear cost read words 0..n of their operands and write words
// 0..n of their result and nothing beyond, so they may run on a prefix of a
// longer number.  Every value is exact while each word stays below 2^53 in
// magnitude; nothing checks this.  Conversions of doubles to integers (quotient
// words, exponent differences) truncate toward zero.
//
// Nothing here allocates but the FFT plans (once per length, fft/fft.h) and a
// Workspace: all numbers live in caller-owned storage, and no routine keeps
// state between calls, so threads may run any of them at once on storage of
// their own.
#pragma once

#include <cstdint>

namespace drmpi {

// ----------------------------------------------- representation (normalize.cpp) --

// The word base, 10^5, and its decimal digits.
inline constexpr double Radix = 100000.0;
inline constexpr int DigitsPerWord = 5;

// 1.5 * 2^52.  For a double t with |t| < 2^51, t + RoundingShift lies in
// [2^52, 2^53), where the doubles are the whole numbers: the sum is the shift
// plus the whole number nearest to t (ties to even), and taking the shift off
// again is exact.  Plain additions, so loops of them vectorise on every
// instruction set and give the same bits on each.
inline constexpr double RoundingShift = 6755399441055744.0;

// The range into which carry normalisation brings the words 1..count-1 of a
// DigitVector.  Both ranges hold Radix consecutive values, so the normalised
// words of a value are unique: whatever words and carries a computation went
// through, the same value gives the same words.
enum class Carry {
    Balanced,     // [-Radix/2, Radix/2 - 1], the range of all arithmetic
    NonNegative,  // [0, Radix - 1], for printing
};

// x = q Radix + r with r in [-off, Radix - off), off = Radix/2 (balanced)
// or 0, for a whole x of magnitude below 2^61: returns q and sets *r.  With x
// shifted by a multiple of Radix above 2^61, the quotient is an unsigned
// division by a constant, which the compiler makes a multiplication.
inline int64_t split_word(int64_t x, int64_t off, int64_t* r) {
    constexpr int64_t R = static_cast<int64_t>(Radix);
    constexpr uint64_t Shift = (uint64_t{1} << 62) / R * R;
    const int64_t q = static_cast<int64_t>((static_cast<uint64_t>(x + off) + Shift) / R) -
                      static_cast<int64_t>(Shift / R);
    *r = x - q * R;
    return q;
}

// Carry normalisation of {v, count} in place: each of v[count-1] .. v[1]
// becomes the remainder of its value (with the carries it receives) in the
// range of mode, and the carry moves on; v[0] is never reduced and absorbs the
// carry-out.  The value is unchanged.  Exact while every word stays below 2^52
// in magnitude (a product of extreme words at 2^18 points reaches 6.6e14).
void mp_normalize(double* v, int count, Carry mode = Carry::Balanced);

// The number of zero words at the start of {x, n}: word by word up to 8,
// where the short blocks' runs end, then four words a test, for the long
// runs at the front of wide blocks and of residuals.
inline int leading_zeros(const double* x, int n) {
    int i = 0;
    for (; i < n && i < 8; ++i)
        if (x[i] != 0.0) return i;
    while (i + 4 <= n && (x[i] == 0.0) & (x[i + 1] == 0.0) & (x[i + 2] == 0.0) & (x[i + 3] == 0.0))
        i += 4;
    while (i < n && x[i] == 0.0) ++i;
    return i;
}

// Removes the leading zero digit words of the MpNumber {x, n} (shifting the
// rest up and zeroing the vacated tail) and lowers its exponent by their
// number.  An all-zero number keeps its words and has its exponent lowered by n.
void mp_strip(double* x, int n);

// Turns the n-word integer in x[1..n] (x[n] the units word) into the MpNumber
// of the same value: E := n, then mp_strip.
void mp_from_words(double* x, int n);

// The words of a number as the transforms read them: doubles, or 32-bit
// integers, in which a number at rest takes half the memory (mp_pack).
// Either kind converts from its pointer; the integers give the spectra of the
// same values, bit for bit.
struct WordsView {
    WordsView() = default;
    WordsView(const double* words) : doubles(words) {}
    WordsView(const int32_t* words) : packed(words) {}
    // Word i, and the view from word i on.
    double operator[](int i) const { return packed ? packed[i] : doubles[i]; }
    WordsView operator+(int i) const { return packed ? WordsView(packed + i) : doubles + i; }
    const double* doubles = nullptr;
    const int32_t* packed = nullptr;
};

// {out, count} := the words {x, count} as 32-bit integers, and back; every
// word of x lies within 2^31 in magnitude.  out lies apart from x.
void mp_pack(const double* x, int32_t* out, int count);
void mp_unpack(const int32_t* x, double* out, int count);

// dst[i] := src[i] for i = 0..count-1, in ascending order.
void mp_copy(const double* src, double* dst, int count);

// dst[i] := value for i = 0..count-1.
void mp_fill(int value, double* dst, int count);

// {x, n} := value with exponent 1; words 2..n zero; not normalised, so a value
// of Radix or more stands whole in d1.
void mp_set_small(int value, double* x, int n);

// a when b <= a, otherwise b: a tie returns a, a NaN in either argument b.
inline double dmax(double a, double b) { return b <= a ? a : b; }

// dmax(dmax(u, v), w).
inline double dmax3(double u, double v, double w) { return dmax(dmax(u, v), w); }

// b when a > b, otherwise a.
inline int imin(int a, int b) { return a > b ? b : a; }

// floor(log2 n) for n >= 1, -1 for n = 0; n >= 0.
int ilog2(int n);

// x rounded up to a multiple of eight, x >= 0: whole blocks of eight doubles,
// which keep whatever follows them 64-byte aligned.
inline constexpr int64_t round_up8(int64_t x) { return (x + 7) / 8 * 8; }

// ------------------------------------------------ linear operations (linear.cpp) --
// Each result is normalised in the carry mode given, balanced unless said.

// Whether an operation adds its second operand or subtracts it.
enum class Sign { Plus, Minus };

// {out, n} := x + y or x - y, with exponent alignment; the words of the
// smaller-exponent operand that fall below word n are dropped.  out never
// coincides with y; it may coincide with x when Ey <= Ex.
void mp_add(const double* x, const double* y, double* out, int n, Sign sign,
            Carry mode = Carry::Balanced);

// {out, n} := k + x or k - x; k is a small integer.  out is x or separate
// from it.
void mp_int_add(int k, const double* x, double* out, int n, Sign sign,
                Carry mode = Carry::Balanced);

// {out, n} := x * m, truncated to n words.  out is x or separate from it.
void mp_mul_int(const double* x, int m, double* out, int n, Carry mode = Carry::Balanced);

// {v, count} := {v, count} * s in place, then normalised; s is a whole number.
void vec_scale(double* v, double s, int count, Carry mode = Carry::Balanced);

// -------------------------------------------------- FFT products (product.cpp) --
// A product of two n-word operands (n a product_length) is made from their
// spectra: transform each operand once, however often it is used, then form
// a product, or the sum of two, and carry it.  The products are
// exact while every output of the transform lies within 0.5 of its whole
// value; each returns the largest distance of an output from its whole value.

// Products up to this length are made by schoolbook multiplication, exactly:
// their spectra hold the operands' words, and their rounding error is 0.  It
// passes over zero words, and sums vectors of words in registers, so it pays
// where factors have many zero words and are short: with 64, the merges of a
// step of 256 terms at widths 32 and 64 took 0.88 and 0.84 of the time they
// took with 24 (products of 24 words and transforms of 48); with 128, those
// at width 128 took as long as with transforms, and with 192, those at 256
// took 1.6 times as long.
inline constexpr int SchoolbookMax = 64;

// Whether products of length n are made: any n from 1 to SchoolbookMax, and
// beyond, the lengths of the transforms, 2^k up to 2^27 and 3 * 2^k up to
// 3 * 2^26 (fft_length).
bool product_length(int n);

// The shortest of n/2, 3n/4 and n that is a product length and holds
// `words` words, for a product of length n whose factors leave most of
// their words zero: `words` is the most words of a factor, and half the most
// of the product, counted from the first non-zero word (a product of u and v
// balanced words, and a sum of two such, takes u + v words).  The product at
// that length is exact and cheaper.  Lengths n up to 2^15 only, whose
// shorter lengths 3 * 2^k have their tables built into the program and their
// plans made by fft_prepare in runs of every length; n beyond.
int short_product_length(int words, int n);

// Products longer than this may meet outputs too large to round right from
// whole words: all +50000 operands give outputs of n * 2.5e9, an error of 0.375
// at 2^18 and 0.5 or more beyond.  Up to this length whole words are exact
// for every operand.  The lengths 3 * 2^k meet the roundings of a radix-3
// pass too: all +50000 give 0.1875 at 3 * 2^15 (SplitMin3) and 0.5 at 3 * 2^16.
inline constexpr int SplitMin = 1 << 18;
inline constexpr int SplitMin3 = 3 << 15;

// Whether a product of length n may meet outputs that round wrong from whole
// words: n beyond SplitMin, or beyond SplitMin3 for a length 3 * 2^k.
inline constexpr bool may_split(int n) { return n > (n % 3 == 0 ? SplitMin3 : SplitMin); }

// A product for which may_split holds is made from whole words, and kept when its
// rounding error is at most SplitTrigger.  Otherwise it is made again with
// every word w split into two digits, w = h SplitBase + l with |h|, |l| <= 158,
// whose outputs round right at every length up to 3 * 2^26.  Random words give
// errors of 0.001 at 2^18 to 0.03 at 3 * 2^26, far below the trigger, which
// only crafted operands reach.
inline constexpr double SplitTrigger = 0.125;
inline constexpr double SplitBase = 317.0;

// Doubles of one operand's spectrum of length n (64-byte aligned storage).
int64_t fft_spectrum_size(int n);

// Doubles of scratch that a product of length n needs.
int64_t fft_product_work(int n);

// {spectrum, fft_spectrum_size(n)} := the spectrum of the words {a, n}, of
// which the first count are given and the rest are zero and not read (count
// as for fft_forward_words: 0 for all n); a is read before spectrum is written
// and may not overlap it.
void fft_spectrum(WordsView a, int n, double* spectrum, int count = 0);

// One factor of a product of length n: its words, the first count of n (0 for
// all n, the rest zero, as for fft_spectrum), and fft_spectrum of them.  A
// product that may_split and must be made again from digits reads the words,
// so they must not change before it returns.
struct Factor {
    WordsView words;
    const double* spectrum;
    int count = 0;
};

// {out, 2n} := x * y, or x1 * y1 + x2 * y2, of factors of length n, carried
// to balanced words with the carry-out in out[0].  A factor may appear twice
// (a square).  {work, fft_product_work(n)} starts with the accumulator, a
// spectrum's size, which overlaps no spectrum but that of y (of y1), where it
// may begin: the product then consumes that spectrum.  The rest of the work,
// which only a product made again from digits writes, may hold the spectra
// (they are read first).  out overlaps not the work; it may lie over the
// other spectra, which it then destroys, and over the factors' words unless
// the product may_split (see Factor).
// Returns the rounding error of the outputs kept (through ProductErrorHook).
double fft_product(Factor x, Factor y, int n, double* out, double* work);
double fft_product_sum(Factor x1, Factor y1, Factor x2, Factor y2, int n, double* out,
                       double* work);

// Doubles of scratch that fft_multiply and mp_mul need at length n.
int64_t fft_multiply_work(int n);

// {out, 2n} := {a, n} * {b, n}, carried as by fft_product; a and b may
// coincide (one transform then serves both), and out may overlap either
// unless the product may_split, as for fft_product.  work: fft_multiply_work(n) doubles, 64-byte
// aligned, overlapping nothing: the two spectra, the second of which the
// product consumes as its work.
double fft_multiply(const double* a, const double* b, double* out, int n, double* work);

// MpNumber {out, 2n} := {x, n} * {y, n}, stripped; as fft_multiply otherwise.
double mp_mul(const double* x, const double* y, double* out, int n, double* work);

// MpNumber {out, 2n} := x * y, of the n leading words of the MpNumbers x and
// y (either of them packed, see WordsView), whose spectra (fft_spectrum of
// those words) are sx and sy, stripped: for an operand that serves several
// products.  As fft_product otherwise: work may begin at sy, which the
// product then consumes.  y_count: the words of y given, as Factor::count (0
// for all n).
double mp_product(WordsView x, const double* sx, WordsView y, const double* sy, int n,
                  double* out, double* work, int y_count = 0);

// When set, every product passes its rounding error through it and reports
// what it returns: a seam for tests that follow the errors through the
// operations.  The program never sets it.  Called from any thread.
extern double (*ProductErrorHook)(double error);

// --------------------------------------------------- Newton iterations (newton.cpp) --
// Each operation returns the largest rounding error of its products.  n is a
// newton_length.  Their storage (NewtonTemp) lies apart from the
// operands and results, in two parts that may lie apart from each other.
//
// The precision schedule: from a seed of all that a double holds, about three
// words, one pass at each working length L = n / 2^(p - 1), twice that, ..., n,
// over p = newton_pass_count(n) passes: L starts at n up to 4 words, else at 4
// for a power of two and at 3 for three times one.  A pass at L takes the first
// min(L, L/2 + 2) words of the approximation, forms its residual with the first
// L words of the operand (and, for the reciprocal, the first words of the
// operand beyond them, which reach the residual's leading words), and adds its
// correction over min(n, L + 2) words: about L + 1 correct words, which the
// next pass reads with a word to spare.  The spare word keeps each pass's own
// losses from doubling with the next, so that the last pass leaves all n words.
// A pass transforms the approximation for each of its two products, as a
// product's words take the place of its first factor's spectrum: the second
// time beside the residual, on a second thread.
int newton_pass_count(int n);

// Whether n is a length of the Newton operations: 2^k or 3 * 2^k, at least 2,
// and a product_length (every working length then is one).
bool newton_length(int n);

// The storage of a Newton operation of length n, in two parts: {spectra,
// newton_spectra_size(n)}, 64-byte aligned, for the spectra and work of its
// products and a product of up to 2n digit words, which takes the place of
// the spectrum of its first factor, and {residual, newton_residual_size(n)}
// for a residual's leading n/2 + 2 words.
struct NewtonTemp {
    double* spectra;
    double* residual;
};
int64_t newton_spectra_size(int n);
int64_t newton_residual_size(int n);

// Doubles of a block that holds both parts, and the parts of such a block.
int64_t newton_temp_size(int n);
NewtonTemp newton_temp(double* block, int n);

// {x, n} := 1/a.  x does not overlap a.  passes < newton_pass_count(n) stops
// the schedule early, for tests of it; 0 runs it whole.
double mp_reciprocal(const double* a, double* x, int n, const NewtonTemp& temp,
                     int passes = 0);

// {out, n} := p/q.  out differs from p and q.
double mp_divide(const double* p, const double* q, double* out, int n, const NewtonTemp& temp);

// Which root mp_sqrt_int makes.
enum class Root { Sqrt, InverseSqrt };

// {x, n} := sqrt(m) or 1/sqrt(m); m > 0 a small integer.
double mp_sqrt_int(int m, double* x, int n, Root root, const NewtonTemp& temp);

}  // namespace drmpi
