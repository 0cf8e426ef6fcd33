// Every seed of every fuzzing harness, and every finding saved as a
// regression fixture (tests/fixtures/fuzz/NAME/), run through the harness
// bodies in the normal build: the harnesses stay working, and an input that
// once crashed a reader stays fixed.
#include <string>

#include "fuzz/targets.h"
#include "platform/platform.h"
#include "tests/support/support.h"

namespace {

struct Harness {
  const char* name;
  int (*body)(const uint8_t* data, size_t size);
};
const Harness kHarnesses[] = {
#include "harnesses.inc"
};

using FuzzReplay = TessTest;

TEST_F(FuzzReplay, EverySeedAndSavedFindingRunsCleanly) {
  FuzzSetUp();
  for (const Harness& h : kHarnesses) {
    std::string folder = std::string(TESS_BINARY_DIR) + "/fuzz/seeds/" + h.name + "/";
    std::vector<std::string> files = FolderEntries(folder);
    EXPECT_FALSE(files.empty()) << h.name << " has no seeds in " << folder;
    for (const std::string& file : files) {
      SCOPED_TRACE(std::string(h.name) + ": " + file);
      std::string bytes = ReadFileBytes(folder + file);
      int live = MemLiveCount();
      h.body(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      EXPECT_EQ(MemLiveCount(), live) << "every block is released";
    }
  }
}

}  // namespace
