#include "fuzz/targets.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/custom_colors.h"
#include "engine/settings.h"
#include "platform/platform.h"
#include "raster/open_image.h"
#include "shell/document.h"
#include "shell/prefs.h"
#include "shell/startup.h"

namespace {

// The file every input is written to, and the folder of the scratch files.
std::string gInputPath;
std::string gOutputPath;
std::string gFolder;

// Writes the input where the reader under test finds it.
bool PutInput(const uint8_t* data, size_t size) {
  int16_t f = FileCreate(gInputPath.c_str());
  if (f == kNoFile) return false;
  bool ok = FileWrite(f, data, static_cast<int32_t>(size)) == static_cast<int32_t>(size);
  FileClose(f);
  return ok;
}

// Leaves nothing of one input for the next.
void Clean() {
  DeleteAllPaths();
  ClearPresets();
  ClearCustomColors();
  ClearMessageLog();
  ScriptAnswers({});
  gUserAbort = 0;
}

// The image kinds by extension, from the build ("tif,sun,...").
const char kImageKinds[] = TESS_FUZZ_IMAGE_KINDS;

// A small drawing with a filled shape, a ring and a stroke, as an open
// document holds it.
void OpenDrawing() {
  gImage->width = 48;
  gImage->height = 40;
  gImage->rowBits = 64;
  gImage->rowBytes = 8;
  gImage->rowWords = 4;
  gImage->bitsPerSample = 1;
  gImage->samplesPerPixel = 1;
  gImage->photometric = 0;
  gImage->resolutionX = gImage->resolutionY = 300;
  gImage->fileHandle = kNoFile;
  ComputeArtScale();
  if (!AllocWorkBits()) return;
  auto ink = [](int x, int y) { gWorkBits[y * 8 + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7)); };
  for (int y = 4; y < 16; ++y)
    for (int x = 4; x < 20; ++x) ink(x, y);
  for (int y = 20; y < 36; ++y)
    for (int x = 24; x < 44; ++x)
      if (x < 28 || x >= 40 || y < 24 || y >= 32) ink(x, y);
  for (int x = 2; x < 46; ++x) ink(x, 38);
  for (int y = 18; y < 38; ++y) ink(10, y);
  static char window;
  gDocument->imageWindow = &window;
}

// The process's folder goes when it ends.
void RemoveFolder() {
  FileDelete(gInputPath.c_str());
  FileDelete(gOutputPath.c_str());
  DeleteStaleScratchFiles(gFolder.c_str());
  rmdir(gFolder.c_str());
}

}  // namespace

void FuzzSetUp() {
  StartRecords();
  DefaultPrefsRecord(gPrefs);
  *gPrefsEdit = *gPrefs;
  SetMessageEcho(nullptr);
  std::string tmpl = std::string(TempFolder()) + "tessary-fuzz-XXXXXX";
  if (!gFolder.empty()) RemoveFolder();
  if (mkdtemp(tmpl.data())) {
    gFolder = tmpl + "/";
    static bool registered = false;
    if (!registered) atexit(RemoveFolder);
    registered = true;
  } else {
    gFolder = TempFolder();
  }
  memset(gPrefs->scratchFolder, 0, sizeof gPrefs->scratchFolder);
  CopyName(gPrefs->scratchFolder, gFolder.c_str());
  gInputPath = gFolder + "input";
  gOutputPath = gFolder + "output";
  MemFailAbove(64u << 20);
}

int FuzzOpenImage(const uint8_t* data, size_t size) {
  if (!PutInput(data, size)) return 0;
  gDocument->Put(Flag::downsample2to1, size > 0 && (data[size - 1] & 1));
  std::string kinds = std::string(kImageKinds) + ",";
  std::string tried;  // the source kinds already tried, as characters
  for (size_t start = 0, comma; (comma = kinds.find(',', start)) != std::string::npos; start = comma + 1) {
    // Kinds the dispatcher tells apart by their contents share a source
    // kind; each source kind is tried once.
    std::string name = "input." + kinds.substr(start, comma - start);
    char type = static_cast<char>(SourceTypeFromName(name.c_str()) + 2);
    if (tried.find(type) != std::string::npos) continue;
    tried += type;
    CopyName(gImage->path, gInputPath.c_str());
    CopyName(gImage->docName, (gOutputPath + ".eps").c_str());
    gImage->sourceType = static_cast<int16_t>(type - 2);
    OpenDocument(nullptr);
    CloseDocument();
    Clean();
  }
  return 0;
}

int FuzzSettingsFile(const uint8_t* data, size_t size) {
  if (!PutInput(data, size)) return 0;
  int16_t f = FileOpen(gInputPath.c_str(), kFileRead);
  if (f == kNoFile) return 0;
  ReadPrefsFile(f, true);
  FileClose(f);
  int count = PresetCount();
  const int picks[2] = {0, count - 1};
  for (int k = 0; k < (count > 1 ? 2 : count); ++k) {
    *gConvSettings = *PresetAt(picks[k]);
    // The pause for interactive thinning waits for a person.
    gConvSettings->optionFlags = static_cast<uint8_t>(gConvSettings->optionFlags & ~Option::interactiveThinning);
    *gConvSettingsEdit = *gConvSettings;
    OpenDrawing();
    if (gWorkBits) ConvertImage(false);
    CloseDocument();
    FreeWorkBits();
    gDocument->imageWindow = nullptr;
  }
  SetBuiltInDefaults(gConvSettings);
  *gConvSettingsEdit = *gConvSettings;
  Clean();
  return 0;
}

int FuzzPrefsFile(const uint8_t* data, size_t size) {
  if (!PutInput(data, size)) return 0;
  int16_t f = FileOpen(gInputPath.c_str(), kFileRead);
  if (f == kNoFile) return 0;
  ReadPrefsFile(f, false);
  FileClose(f);
  ScreenGeometry screen{1024, 768, 20};
  for (int index = -1; index <= kDialogPositionCount; ++index) PlaceDialog(index, 300, 200, screen);
  int16_t out = FileCreateReplacing(gOutputPath.c_str());
  if (out != kNoFile) {
    if (WritePrefsFile(out, false).ok()) FileCommit(out);
    else FileDiscard(out);
  }
  DefaultPrefsRecord(gPrefs);
  *gPrefsEdit = *gPrefs;
  Clean();
  return 0;
}

int FuzzColorFile(const uint8_t* data, size_t size) {
  if (!PutInput(data, size)) return 0;
  int16_t f = FileOpen(gInputPath.c_str(), kFileRead);
  if (f == kNoFile) return 0;
  ReadColorFile(f, nullptr, nullptr);
  FileClose(f);
  static CustomColorEntry source[kMaxCustomColors];
  int sourceCount = 0;
  ReadImportFile(gInputPath.c_str(), source, &sourceCount);
  ImportCustomColors(source, sourceCount, true);
  SortCustomColors();
  ExportCustomColors(gOutputPath.c_str(), false);
  Clean();
  return 0;
}
