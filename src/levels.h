// Instruction-set levels. The hot code (kernels.cpp, poly.cpp) is compiled once per level, each
// copy in a namespace named for its level and with that level's flags; at start the program
// takes the best level that the processor runs, and the functions of kernels.h and poly.h
// forward to its copies. Everything else is built for the baseline, so one binary runs on every
// processor of its architecture and is fast on each.
#pragma once

#include <string>
#include <vector>

// The levels built, lowest first: on x86-64 "base" (x86-64), "v2" (SSE4.2), "v3" (AVX2, FMA)
// and "v4" (AVX-512 F, BW, CD, DQ, VL); "native" alone in a build for this machine only; "base"
// alone elsewhere.
std::vector<std::string> Levels();

// Whether this processor (and its operating system) runs the level's instructions.
bool Runs(const std::string& level);

// The level in use: at start, the last of Levels() that Runs.
std::string Level();

// Uses the level from now on, if it was built and Runs; else returns false and changes nothing.
// For the tests, which compare the levels' answers; the answer never depends on the level.
bool UseLevel(const std::string& level);
