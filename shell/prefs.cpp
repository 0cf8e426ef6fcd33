#include "shell/prefs.h"

#include <bit>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "art/pathstore.h"
#include "engine/custom_colors.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "shell/document.h"

// The record and the presets are stored as they lie in memory.
static_assert(std::endian::native == std::endian::little, "the preferences files are little-endian");

namespace {

MemHandle gPresetHandle = kNoMem;  // the presets' block; settingsPresetList points into it
constexpr int kPresetGrowStep = 8;
constexpr int kCustomColorEntrySize = 38;

const uint8_t kMagicLittle[4] = {0xB8, 0xB0, 0xED, 0xFE};
const uint8_t kMagicBig[4] = {0xFE, 0xED, 0xB0, 0xB8};

char gPrefsFolder[kNameBufferSize] = "";

void Swap16(uint8_t* p) {
  uint8_t t = p[0];
  p[0] = p[1];
  p[1] = t;
}

void Swap32(uint8_t* p) {
  uint8_t t = p[0];
  p[0] = p[3];
  p[3] = t;
  t = p[1];
  p[1] = p[2];
  p[2] = t;
}

int16_t Get16(const uint8_t* p, bool big) {
  return static_cast<int16_t>(big ? (p[0] << 8) | p[1] : p[0] | (p[1] << 8));
}

ConversionSettings* PresetBlock() {
  if (gPresetHandle == kNoMem) return nullptr;
  auto* p = static_cast<ConversionSettings*>(MemLock(gPresetHandle));
  MemUnlock(gPresetHandle);  // the block only moves when it is resized here
  return p;
}

void RefreshPresetPointer() { gDocument->settingsPresetList = gPrefs->presetCount > 0 ? PresetBlock() : nullptr; }

bool SameName(const char* a, const char* b) { return strncmp(a, b, sizeof(ConversionSettings::name)) == 0; }

bool IsDefaultsName(const char* name) { return SameName(name, LoadString(kStrDefaults)); }

// Positions, window placement and folders of a record that comes from a file
// whose layout did not hold them.
void ResetPlacesAndFolders(PrefsRecord* r) {
  memset(r->dialogPositions, 0, sizeof r->dialogPositions);
  memset(r->mainWindow, 0, sizeof r->mainWindow);
  r->mainShowState = 0;
  memset(r->pluginFolder, 0, sizeof r->pluginFolder);
  memset(r->scratchFolder, 0, sizeof r->scratchFolder);
  CopyName(r->scratchFolder, TempFolder());
}

// A record read from a file is not trusted to hold terminated strings or
// values in range. The choices it stores (preview, art format, pixel image
// format, drawing thickness) are each one of a few meanings: a value that
// is none of them takes its default. The output format of earlier versions
// (6) becomes format 3 with a preview. The counts are checked by the reader
// (a count out of range makes the file invalid); the dialog positions by
// PlaceDialog; the other fields take any value.
void SanitizeRecord(PrefsRecord* r) {
  PrefsRecord defaults;
  DefaultPrefsRecord(&defaults);
  r->selectedPreset[sizeof r->selectedPreset - 1] = 0;
  r->pluginFolder[sizeof r->pluginFolder - 1] = 0;
  r->scratchFolder[sizeof r->scratchFolder - 1] = 0;
  if (r->outputFormat == kFormatRetired) {
    r->outputFormat = kFormatEps5;
    r->previewKind = 1;
  }
  if (r->previewKind < 0 || r->previewKind > 5) r->previewKind = defaults.previewKind;
  if ((r->outputFormat < kFormatEps11 || r->outputFormat > kFormatDxf) && r->outputFormat != kFormatSvg && r->outputFormat != kFormatPdf)
    r->outputFormat = defaults.outputFormat;
  if (r->pixelWriterKind != 0 && r->pixelWriterKind != 1 && r->pixelWriterKind != 3)
    r->pixelWriterKind = defaults.pixelWriterKind;
  if (r->drawThickness < 0 || r->drawThickness > 4) r->drawThickness = defaults.drawThickness;
}

// Byte order and earlier-version fixes of one preset as read from a file.
void FixPreset(uint8_t* p, bool big, int version) {
  if (big) {
    Swap16(p + 40);
    Swap32(p + 42);
    Swap32(p + 46);
    Swap32(p + 50);
    for (int off = 54; off <= 64; off += 2) Swap16(p + off);
  }
  auto* s = reinterpret_cast<ConversionSettings*>(p);
  if (version == 1) {
    if (s->complexity > 2) s->optionFlags |= Option::posterize;
    s->maxColors = 16;
    s->complexity = 10;
  }
  // Every field within the range of its dialog (Noise Suppression among
  // them, clamped to 100..8000), so that no wild value reaches a
  // conversion.
  ApplySettingRanges(s);
}

// The body of ReadPrefsFile: false as soon as the file turns out invalid.
bool ReadPrefsBody(int16_t file, bool settingsFile) {
  uint8_t header[kPrefsHeaderSize];
  if (FileRead(file, header, kPrefsHeaderSize) != kPrefsHeaderSize) return false;
  bool big;
  if (!memcmp(header, kMagicLittle, 4)) big = false;
  else if (!memcmp(header, kMagicBig, 4)) big = true;
  else return false;
  int version = Get16(header + 4, big);
  if (version != 1 && version != 2) return false;

  *gPrefsEdit = *gPrefs;
  // The record is assembled aside, so that a short file leaves gPrefs as it
  // was (the settings file must never change the preferences).
  PrefsRecord rec = *gPrefs;
  auto* bytes = reinterpret_cast<uint8_t*>(&rec);
  if (version == 2 && !big) {
    if (FileRead(file, &rec, sizeof rec) != static_cast<int32_t>(sizeof rec)) return false;
  } else if (version == 2) {
    uint8_t old[kPrefsRecordBigEndianSize];
    if (FileRead(file, old, sizeof old) != static_cast<int32_t>(sizeof old)) return false;
    rec.previewKind = Get16(old + 8, true);
    rec.outputFormat = Get16(old + 10, true);
    rec.pixelWriterKind = Get16(old + 12, true);
    rec.drawThickness = Get16(old + 14, true);
    rec.customColorCount = Get16(old + 20, true);
    rec.presetCount = Get16(old + 22, true);
    ResetPlacesAndFolders(&rec);
  } else {
    uint8_t old[kPrefsRecordV1Size];
    if (FileRead(file, old, sizeof old) != static_cast<int32_t>(sizeof old)) return false;
    ShowWarning(kStrConvertingOldPrefs);
    // Flags, the six values, the wand byte, the preset name and the 38
    // positions lie where they lie in the current record.
    memcpy(bytes, old, offsetof(PrefsRecord, mainWindow));
    if (big) {
      // The version 1 layout holds the six values at 8 to 19, counts
      // included, so they are swapped where they are.
      for (int off = 8; off < 20; off += 2) Swap16(bytes + off);
      ResetPlacesAndFolders(&rec);
    }
  }
  SanitizeRecord(&rec);

  int count = rec.presetCount;
  int colorCount = rec.customColorCount;
  if (!settingsFile) {
    // The preferences file never holds presets, whatever its record claims;
    // the custom colors follow its record instead.
    int16_t presets = gPrefs->presetCount;
    ClearCustomColors();
    *gPrefs = rec;
    gPrefs->presetCount = presets;
    gPrefs->customColorCount = 0;
    if (colorCount < 0 || colorCount > kMaxCustomColors) return false;
    if (colorCount > 0) {
      size_t size = static_cast<size_t>(colorCount) * kCustomColorEntrySize;
      MemHandle h = MemAlloc(size);
      if (h == kNoMem) {
        ShowWarning(kStrNotEnoughMemory);
        return false;
      }
      auto* entries = static_cast<CustomColorEntry*>(MemLock(h));
      bool ok = FileRead(file, entries, static_cast<int32_t>(size)) == static_cast<int32_t>(size);
      if (ok) {
        for (int i = 0; i < colorCount; ++i) {
          entries[i].name[kColorNameMax] = 0;
          entries[i].tagged = entries[i].tagged ? 1 : 0;
        }
        ok = SetCustomColors(entries, colorCount);
      }
      MemUnlock(h);
      MemFree(h);
      if (!ok) return false;
    }
  } else {
    if (count < 0 || count > kMaxPresets) {
      gPrefs->presetCount = static_cast<int16_t>(PresetCount());
      return false;
    }
    ClearPresets();
    for (int i = 0; i < count; ++i) {
      uint8_t preset[sizeof(ConversionSettings)];
      if (FileRead(file, preset, sizeof preset) != static_cast<int32_t>(sizeof preset)) return false;
      FixPreset(preset, big, version);
      ConversionSettings* added;
      if (!AddPreset(reinterpret_cast<ConversionSettings*>(preset), &added).ok()) return false;
    }
  }
  if (PresetCount() > 0) ApplySelectedPreset();
  return true;
}

bool WriteAll(int16_t file, const void* bytes, int32_t count) { return FileWrite(file, bytes, count) == count; }

bool WritePrefsBody(int16_t file, bool settingsFile) {
  const uint8_t header[kPrefsHeaderSize] = {kMagicLittle[0], kMagicLittle[1], kMagicLittle[2], kMagicLittle[3],
                                            static_cast<uint8_t>(kPrefsVersion), 0};
  if (!WriteAll(file, header, sizeof header)) return false;
  // Both records carry the custom color count; only the settings file
  // counts presets.
  PrefsRecord rec = *gPrefs;
  rec.customColorCount = static_cast<int16_t>(CustomColorCount());
  rec.presetCount = settingsFile ? static_cast<int16_t>(PresetCount()) : 0;
  if (!WriteAll(file, &rec, sizeof rec)) return false;
  if (settingsFile) {
    if (rec.presetCount > 0 &&
        !WriteAll(file, PresetBlock(), static_cast<int32_t>(rec.presetCount * sizeof(ConversionSettings))))
      return false;
  } else if (rec.customColorCount > 0) {
    if (!WriteAll(file, CustomColorList(), rec.customColorCount * kCustomColorEntrySize)) return false;
  }
  return true;
}

// Builds folder + name into a name buffer; empty when it does not fit.
void BuildPath(char* dst, const char* folder, const char* name) {
  if (!CopyName(dst, folder) || !AppendName(dst, name)) dst[0] = 0;
}

void BuildFilePaths() {
  BuildPath(gDocument->prefsFilePath, PrefsFolder(), kPrefsFileName);
  BuildPath(gDocument->settingsFilePath, PrefsFolder(), kSettingsFileName);
  BuildPath(gDocument->helpFilePath, ModuleFolder(), kHelpFileName);
}

// Writes one file as a replacement: it takes the place of the file of the
// previous run only when it was written completely, so that a full disk
// never destroys that file.
Status SaveOneFile(const char* path, bool settingsFile) {
  Status failed = Failed(settingsFile ? kStrCantWriteSettings : kStrCantWritePrefs);
  int16_t file = path[0] ? FileCreateReplacing(path) : kNoFile;
  if (file == kNoFile) {
    ShowStatus(failed);
    return failed;
  }
  if (Status written = WritePrefsFile(file, settingsFile); !written.ok()) {
    FileDiscard(file);
    return written;
  }
  if (FileCommit(file) != 0) {
    ShowStatus(failed);
    return failed;
  }
  return Done();
}

}  // namespace

// ---------------------------------------------------------------------------
const char* PrefsFolder() {
  // Beside the program when that folder can be written (a portable install);
  // otherwise the user's configuration folder, as installed programs on this
  // system keep their settings there.
  const char* module = ModuleFolder();
  if (FolderWritable(module)) return module;
  const char* config = ConfigFolder();
  MakeFolder(config);
  if (!CopyName(gPrefsFolder, config)) CopyName(gPrefsFolder, TempFolder());
  return gPrefsFolder;
}

Status ReadPrefsFile(int16_t file, bool settingsFile) {
  gUserAbort = 0;
  if (ReadPrefsBody(file, settingsFile)) return Done();
  Status invalid = Failed(settingsFile ? kStrInvalidSettingsFile : kStrInvalidPrefsFile);
  ShowStatus(invalid);
  if (!settingsFile) SetDefaults();
  return invalid;
}

Status WritePrefsFile(int16_t file, bool settingsFile) {
  memset(gPrefs->selectedPreset, 0, sizeof gPrefs->selectedPreset);
  memcpy(gPrefs->selectedPreset, gConvSettings->name, strnlen(gConvSettings->name, sizeof gConvSettings->name - 1));
  if (WritePrefsBody(file, settingsFile)) return Done();
  Status failed = Failed(settingsFile ? kStrCantWriteSettings : kStrCantWritePrefs);
  ShowStatus(failed);
  return failed;
}

void LoadPreferences() {
  const struct lconv* lc = localeconv();
  gDocument->decimalSeparator = lc && lc->decimal_point && lc->decimal_point[0] ? lc->decimal_point[0] : '.';
  gDocument->Set(Flag::toolboxVisible);
  gMaxPaths = 10000;
  BuildFilePaths();

  // Fields that an earlier version's file does not hold take their defaults.
  DefaultPrefsRecord(gPrefs);
  SetBuiltInDefaults(gConvSettings);
  *gConvSettingsEdit = *gConvSettings;
  int16_t file = gDocument->prefsFilePath[0] ? FileOpen(gDocument->prefsFilePath, kFileRead) : kNoFile;
  if (file != kNoFile) {
    ReadPrefsFile(file, false);
    FileClose(file);
  } else {
    SetDefaults();
  }
  if (CustomColorCount() == 0) ShowStatus(LoadDefaultCustomColors());

  file = gDocument->settingsFilePath[0] ? FileOpen(gDocument->settingsFilePath, kFileRead) : kNoFile;
  if (file != kNoFile) {
    ReadPrefsFile(file, true);
    FileClose(file);
  }
  if (PresetCount() == 0) {
    ConversionSettings defaults;
    SetBuiltInDefaults(&defaults);
    ConversionSettings* added;
    AddPreset(&defaults, &added);
  }
  *gConvSettingsEdit = *gConvSettings;

  // A scratch folder that does not exist here (a drive root of another
  // system, a removed disk) is replaced by the system's temporary folder.
  if (!gPrefs->scratchFolder[0] || !FolderWritable(gPrefs->scratchFolder)) {
    memset(gPrefs->scratchFolder, 0, sizeof gPrefs->scratchFolder);
    CopyName(gPrefs->scratchFolder, TempFolder());
  }
  CopyName(gDocument->pluginDirectory, gPrefs->pluginFolder);
  *gPrefsEdit = *gPrefs;
}

Status SavePreferences() {
  if (gDocument->Test(Flag::pluginDirChanged)) {
    memset(gPrefs->pluginFolder, 0, sizeof gPrefs->pluginFolder);
    CopyName(gPrefs->pluginFolder, gDocument->pluginDirectory);
  }
  if (!gDocument->prefsFilePath[0] || !gDocument->settingsFilePath[0]) BuildFilePaths();
  Status prefs = SaveOneFile(gDocument->prefsFilePath, false);
  Status settings = SaveOneFile(gDocument->settingsFilePath, true);
  return prefs.ok() ? settings : prefs;
}

void ApplyDefaultPrefs(PrefsRecord* r) {
  r->flags0 = static_cast<uint8_t>(
      (r->flags0 & ~(PrefFlag::restoreSettings | PrefFlag::batchToSourceFolder | PrefFlag::infoPaletteOpen)) |
      PrefFlag::beepAfterConvert | PrefFlag::paintStyleOption | PrefFlag::expandSpread);
  r->flags1 = static_cast<uint8_t>((r->flags1 & ~(PrefFlag::batchReplaceFiles | PrefFlag::paintStyleOpen)) |
                                   PrefFlag::savePositions | PrefFlag::eliminateHidden);
  r->previewKind = 1;
  r->outputFormat = kFormatEps5;
  r->pixelWriterKind = 0;
  r->drawThickness = 4;
  r->customColorCount = 0;
  r->presetCount = 0;
  r->wandTolerance = 32;
  ResetPlacesAndFolders(r);
}

void DefaultPrefsRecord(PrefsRecord* r) {
  // Built from a cleared record, so that nothing of an invalid file survives.
  memset(r, 0, sizeof *r);
  ApplyDefaultPrefs(r);
  strncpy(r->selectedPreset, LoadString(kStrDefaults), sizeof r->selectedPreset - 1);
}

void SetDefaults() {
  ClearPresets();
  ClearCustomColors();
  SetBuiltInDefaults(gConvSettings);
  *gConvSettingsEdit = *gConvSettings;
  ApplyDefaultPrefs(gPrefsEdit);
  *gPrefs = *gPrefsEdit;
  ConversionSettings* added;
  AddPreset(gConvSettings, &added);
}

// ---------------------------------------------------------------------------
int PresetCount() { return gPrefs->presetCount > 0 && gPresetHandle != kNoMem ? gPrefs->presetCount : 0; }

ConversionSettings* PresetAt(int index) {
  if (index < 0 || index >= PresetCount()) return nullptr;
  return PresetBlock() + index;
}

Status AddPreset(const ConversionSettings* settings, ConversionSettings** added) {
  *added = nullptr;
  int count = PresetCount();
  Status failed = count >= kMaxPresets ? Failed(kStrPresetLimit) : Done();
  size_t need = static_cast<size_t>(count + 1) * sizeof(ConversionSettings);
  if (!failed.ok()) {
  } else if (gPresetHandle == kNoMem) {
    gPresetHandle = MemAlloc(kPresetGrowStep * sizeof(ConversionSettings));
    if (gPresetHandle == kNoMem) failed = Failed(kStrNotEnoughMemory);
  } else if (MemSize(gPresetHandle) < need &&
             !MemResize(gPresetHandle, need + (kPresetGrowStep - 1) * sizeof(ConversionSettings))) {
    failed = Failed(kStrNotEnoughMemory);
  }
  if (!failed.ok()) {
    ShowStatus(failed);
    return failed;
  }
  ConversionSettings* entry = PresetBlock() + count;
  *entry = *settings;
  entry->name[sizeof entry->name - 1] = 0;
  gPrefs->presetCount = static_cast<int16_t>(count + 1);
  RefreshPresetPointer();
  *added = entry;
  return Done();
}

Status DeletePreset(int index) {
  ConversionSettings* entry = PresetAt(index);
  if (!entry) return Failed();
  if (IsDefaultsName(entry->name)) {
    ShowWarning(kStrCantDeleteDefaults);
    return Failed(kStrCantDeleteDefaults);
  }
  int after = PresetCount() - index - 1;  // presets behind the deleted one
  if (after > 0) memmove(entry, entry + 1, static_cast<size_t>(after) * sizeof *entry);
  gPrefs->presetCount = static_cast<int16_t>(index + (after > 0 ? after : 0));
  RefreshPresetPointer();
  return Done();
}

Status RenamePreset(int index, const char* name) {
  ConversionSettings* entry = PresetAt(index);
  if (!entry) return Failed();
  if (IsDefaultsName(entry->name)) {
    if (SameName(name, entry->name)) return Done();
    ShowWarning(kStrCantRenameDefaults);
    return Failed(kStrCantRenameDefaults);
  }
  memset(entry->name, 0, sizeof entry->name);
  strncpy(entry->name, name, sizeof entry->name - 1);
  return Done();
}

int FindPreset(const char* name) {
  for (int i = 0; i < PresetCount(); ++i)
    if (SameName(PresetAt(i)->name, name)) return i;
  return -1;
}

void ClearPresets() {
  MemFree(gPresetHandle);
  gPresetHandle = kNoMem;
  gPrefs->presetCount = 0;
  gDocument->settingsPresetList = nullptr;
}

Status CheckPresetName(const char* name, int selected) {
  Status checked = Done();
  if (!name[0]) {
    checked = Failed(kStrEnterName);
  } else if (SameName(name, LoadString(kStrNewOption))) {
    checked = Failed(kStrNameReserved);
  } else {
    // Any other entry of that name is a clash, also when a new preset is
    // being created while an existing one is selected.
    for (int i = 0; i < PresetCount(); ++i)
      if (i != selected && SameName(PresetAt(i)->name, name)) checked = Failed(kStrNameInUse);
  }
  ShowStatus(checked);
  return checked;
}

bool ApplySelectedPreset() {
  const char* name = (gPrefs->flags0 & PrefFlag::restoreSettings) ? gPrefs->selectedPreset : LoadString(kStrDefaults);
  int index = FindPreset(name);
  if (index < 0) return false;
  *gConvSettings = *PresetAt(index);
  *gConvSettingsEdit = *gConvSettings;
  return true;
}

// ---------------------------------------------------------------------------
DialogPlace PlaceDialog(int index, int32_t width, int32_t height, const ScreenGeometry& screen) {
  DialogPlace centred{(screen.width - width) / 2, (screen.height - height) / 2, true};
  if (centred.left < 0) centred.left = 0;
  if (centred.top < 0) centred.top = 0;
  if (index < 0 || index >= kDialogPositionCount) return centred;
  if (index != 0 && !(gPrefs->flags1 & PrefFlag::savePositions)) return centred;
  int32_t top = gPrefs->dialogPositions[index][0];
  int32_t left = gPrefs->dialogPositions[index][1];
  if (top == 0 && left == 0) return centred;
  // A stored place is used when it lies right of the screen's left edge,
  // below the menu bar, and keeps the whole dialog on the screen.
  if (left > 0 && top >= screen.menuBarHeight && left + width <= screen.width && top + height <= screen.height)
    return DialogPlace{left, top, false};
  RecordDialogPosition(index, centred.left, centred.top);
  return centred;
}

void RecordDialogPosition(int index, int32_t left, int32_t top) {
  if (index < 0 || index >= kDialogPositionCount) return;
  for (PrefsRecord* r : {gPrefs, gPrefsEdit}) {
    r->dialogPositions[index][0] = static_cast<int16_t>(top);
    r->dialogPositions[index][1] = static_cast<int16_t>(left);
  }
}

void AskKeepPositions() {
  if (AskQuestion(kStrUsePreviousPositions) == kAnswerYes) return;
  for (PrefsRecord* r : {gPrefs, gPrefsEdit}) memset(r->dialogPositions, 0, 18 * sizeof r->dialogPositions[0]);
  ShowWarning(kStrPositionsReset);
}
