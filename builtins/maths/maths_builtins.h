// builtins/maths/maths_builtins.h
// The mathematics built-ins on doubles: the library functions, rounding to
// integers and to decimals, minimum and maximum, and 32-bit rotations.
#pragma once

namespace qob {

// Each pops its fixed arguments (the rightmost first) and pushes one number;
// none reports an error. A text argument counts as the number it stands for,
// 0 when it is none. Results outside a function's domain are the library's
// NaN or infinity.

void Builtin_abs();      // abs(x): the sign bit cleared
void Builtin_chgsign();  // chgsign(x): the sign bit flipped
void Builtin_acos();
void Builtin_asin();
void Builtin_atan();
void Builtin_atan2();    // atan2(y, x): quadrant by the signs of both
void Builtin_cos();
void Builtin_sin();
void Builtin_tan();
void Builtin_cosh();
void Builtin_sinh();
void Builtin_tanh();
void Builtin_exp();
void Builtin_log();
void Builtin_log10();
void Builtin_pow();      // pow(a, b): a to the power b
void Builtin_sqrt();
void Builtin_hypot();    // hypot(a, b)
void Builtin_floor();
void Builtin_ceil();

// trunc(x): toward zero after moving x 1e-12 away from zero, so that a value
// a hair below an integer counts as that integer.
void Builtin_trunc();
// round(x): to an integer, halves upward (2.5 -> 3, -2.5 -> -2), from the
// same biased integer part as trunc.
void Builtin_round();
// roundex(x, digits): to that many decimals, halves upward; truncex(x,
// digits): cut down to them (toward minus infinity). Negative digits work on
// tens, hundreds, ... Neither has a bias. Beyond the digits a double can
// scale, x has no finer decimals to lose (too many digits give x) or is far
// below the unit (too few give 0).
void Builtin_roundex();
void Builtin_truncex();

// min(...) / max(...) over every argument of the closed frame. Without
// arguments min gives the largest finite double and max gives 0; a NaN
// argument never wins.
void Builtin_min();
void Builtin_max();

// lrotl / rotl (value, count) and lrotr / rotr: the unsigned 32-bit view of
// value rotated by the signed 32-bit view of count, modulo 32 (a negative
// count turns the other way); the result is 0 .. 4294967295.
void Builtin_lrotl();
void Builtin_lrotr();

}  // namespace qob
