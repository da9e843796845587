// The compiler's two rewriting passes: the peephole pass over the code of one
// expression and jump threading over a compiled unit. Both work in place and
// cannot fail.
#pragma once

#include <cstdint>

// Rewrites pairs of instructions of one expression, code[start] to code[*end],
// and gives the new end. Before the expression's first jump the code is
// compacted (Nop words dropped, doubles realigned); from that jump on nothing
// moves and freed words become Nop. Word positions count from code, which
// must be 8-byte aligned so that doubles stay aligned. No rewrite spans a
// word that a jump lands on.
void OptimizeInstructionPairs(int16_t* code, int start, int* end);

// Redirects jumps that land on other jumps, Nops, SkipOperand and passable
// line markers, turns a Jump to a Return into the Return itself and, with
// loopRemoval, replaces a for loop over a range with an empty body by
// RangeLastValue and a store of the loop variable. Lengths never change; an
// offset that would not fit in a word is left as it is.
void ThreadJumps(int16_t* code, int length, bool loopRemoval);
