// Exit status values of the run sequence (app/run.cc), which alone decides
// how the run ends: with one of these.
#ifndef COMMON_EXIT_STATUS_H_
#define COMMON_EXIT_STATUS_H_

// A complete run.
constexpr int kExitSuccess = 0;
// Any failure. Handed unchanged to the process exit, so the caller sees all
// bits set (255 where a platform keeps only the low 8 bits).
constexpr int kExitFailure = -1;

#endif  // COMMON_EXIT_STATUS_H_
