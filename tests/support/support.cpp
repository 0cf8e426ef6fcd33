#include "tests/support/support.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "core/records.h"
#include "art/pathstore.h"
#include "engine/conversion.h"
#include "engine/custom_colors.h"
#include "engine/settings.h"
#include "raster/sample_store.h"
#include "shell/batch.h"
#include "shell/prefs.h"
#include "platform/platform.h"

namespace {

// Frees what the modules keep between calls (the path store, the lists, the
// stores of an image), so that what a test leaves allocated beyond that is a
// leak.
void ReleaseModuleStores() {
  DeleteAllPaths();
  ClearCustomColors();
  ClearPresets();
  ClearBatchList();
  FreeSampleStore();
  DeleteScratchStores();
  FreeWorkBits();
}

}  // namespace

void TessTest::SetUp() {
  ReleaseModuleStores();
  ResetRecords();
  SetBuiltInDefaults(gConvSettings);
  *gConvSettingsEdit = *gConvSettings;
  MemResetFailures();
  FileFailWritesAfter(-1);
  ClearMessageLog();
  ScriptAnswers({});
  ProgressClose();
  SetTickSource(nullptr);
  std::string tmpl = std::string(TempFolder()) + "tess-test-XXXXXX";
  const char* d = mkdtemp(tmpl.data());
  ASSERT_NE(d, nullptr);
  dir_ = std::string(d) + "/";
  strncpy(gPrefs->scratchFolder, dir_.c_str(), sizeof gPrefs->scratchFolder - 1);
  memAtStart_ = MemLiveCount();
  filesAtStart_ = FileOpenCount();
}

void TessTest::TearDown() {
  MemResetFailures();
  FileFailWritesAfter(-1);
  SetTickSource(nullptr);
  if (checkLeaks_) {
    ReleaseModuleStores();
    EXPECT_EQ(FileOpenCount(), filesAtStart_) << "file handles left open";
    EXPECT_EQ(MemLiveCount(), memAtStart_) << "memory blocks left allocated";
  }
  std::string cmd = "rm -rf '" + dir_ + "'";
  if (system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
}

std::vector<int> TessTest::MessageIds() const {
  std::vector<int> ids;
  for (const auto& m : MessageLog()) ids.push_back(m.id);
  return ids;
}

void MakeBitmapImage(int width, int height, double dpi) {
  gImage->width = static_cast<int16_t>(width);
  gImage->height = static_cast<int16_t>(height);
  gImage->rowBytes = static_cast<int16_t>(((width + 31) / 32) * 4);
  gImage->rowBits = static_cast<int16_t>(gImage->rowBytes * 8);
  gImage->rowWords = static_cast<int16_t>(gImage->rowBytes / 2);
  gImage->bitsPerSample = 1;
  gImage->samplesPerPixel = 1;
  gImage->photometric = 0;
  gImage->resolutionX = gImage->resolutionY = dpi;
  gImage->fileHandle = kNoFile;
  ComputeArtScale();
  ASSERT_TRUE(AllocWorkBits());
}

void SetWorkPixel(int x, int y, int on) {
  uint8_t& b = gWorkBits[static_cast<size_t>(y) * gImage->rowBytes + (x >> 3)];
  uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
  if (on) b |= m;
  else b &= static_cast<uint8_t>(~m);
}

void DrawArt(int x0, int y0, const std::vector<std::string>& art) {
  for (size_t y = 0; y < art.size(); ++y)
    for (size_t x = 0; x < art[y].size(); ++x)
      if (art[y][x] == '#') SetWorkPixel(x0 + static_cast<int>(x), y0 + static_cast<int>(y));
}

void FillRect(int left, int top, int right, int bottom) {
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) SetWorkPixel(x, y);
}

CustomColorEntry* NewColorEntry(Status* status) {
  CustomColorEntry* added;
  Status made = AddCustomColor(&added);
  if (status) *status = made;
  return added;
}

ConversionSettings* NewPreset(const ConversionSettings* settings, Status* status) {
  ConversionSettings* added;
  Status made = AddPreset(settings, &added);
  if (status) *status = made;
  return added;
}

void PrintTo(const Status& status, std::ostream* os) {
  static const char* const kKinds[] = {"Done", "Failed", "Stopped", "Cancelled"};
  *os << kKinds[status.kind & 3] << "(" << status.message << ")";
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = opendir(folder.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string SourceDir() {
  const char* s = getenv("TESS_SOURCE_DIR");
  return s ? s : TESS_SOURCE_DIR;
}
