// builtins/maths/random_builtins.h
// The pseudo-random built-ins over the platform's seedable 15-bit generator,
// whose one process-wide state start-up seeds from the millisecond clock.
#pragma once

namespace qob {

void Builtin_rand();       // rand() -> the next draw, 0 .. 32767
// random(n) -> the draw scaled to 0 .. n - 1 (0 down to n + 1 for a negative
// n); n is the number's signed 32-bit view.
void Builtin_random();
// randomset(...) -> the number of one argument of the closed frame, drawn
// at random over all of them; 0, with no draw, when there are none.
void Builtin_randomset();
void Builtin_srand();      // srand(seed): the seed's unsigned 32-bit view; pushes nothing

}  // namespace qob
