// The bodies of the fuzzing harnesses: each takes one input as the bytes of
// a file and runs it through the program's own reader, as the desktop
// program and the command line would, then releases everything. The
// libFuzzer entry (fuzz_main.cpp) and the replay test of the normal build
// (replay_test.cpp) call the same bodies.
#pragma once

#include <cstddef>
#include <cstdint>

// Once per process: the records at their start-up state, headless messages,
// a private scratch folder, and allocations above 64 MB failing as on a
// machine short of memory (the program's answer to that is tested, not the
// machine's).
void FuzzSetUp();

// The open dispatcher: the input opened once for every source kind that the
// extensions of TESS_FUZZ_IMAGE_KINDS stand for (kinds told apart by their
// contents share one), with the 2:1 reduction on when its last byte is odd.
int FuzzOpenImage(const uint8_t* data, size_t size);
// A settings presets file ("TS.SET"); its first and last presets then
// convert a small drawing with every method they choose.
int FuzzSettingsFile(const uint8_t* data, size_t size);
// A preferences file ("TS.PRF") with its custom colors; the dialogs are
// placed from it and it is written back.
int FuzzPrefsFile(const uint8_t* data, size_t size);
// A custom color file, read into the list and into the import dialog's
// source list, then exported.
int FuzzColorFile(const uint8_t* data, size_t size);
