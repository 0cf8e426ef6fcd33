// The preferences and settings files, built byte by byte: little- and
// big-endian, versions 1 and 2, truncated and oversized; the presets list and
// its name rules; dialog placement.
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/custom_colors.h"
#include "engine/settings.h"
#include "shell/prefs.h"
#include "tests/support/support.h"

namespace {

void Put16(std::string& s, size_t at, int v, bool big = false) {
  s[at + (big ? 1 : 0)] = static_cast<char>(v & 0xFF);
  s[at + (big ? 0 : 1)] = static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& s, size_t at, int32_t v, bool big = false) {
  for (int i = 0; i < 4; ++i) s[at + (big ? 3 - i : i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string Header(int version, bool big = false) {
  std::string h = big ? std::string("\xFE\xED\xB0\xB8", 4) : std::string("\xB8\xB0\xED\xFE", 4);
  h += std::string(2, '\0');
  Put16(h, 4, version, big);
  return h;
}

// A version 2 little-endian record.
std::string Record(int presets, int colors = 0) {
  std::string r(736, '\0');
  r[0] = 0x02;
  Put16(r, 8, 1);   // preview
  Put16(r, 10, 3);  // output format
  Put16(r, 14, 2);  // thickness
  Put16(r, 16, colors);
  Put16(r, 18, presets);
  r[20] = 40;
  memcpy(&r[21], "Fine", 4);
  Put16(r, 54 + 4 * 3, 120);  // position 3: top
  Put16(r, 54 + 4 * 3 + 2, 80);
  memcpy(&r[224], "/plug/", 6);
  memcpy(&r[480], "/scratch/", 9);
  return r;
}

std::string Preset(const std::string& name, int32_t noise, bool big = false, int complexity = 10) {
  std::string p(68, '\0');
  memcpy(&p[0], name.data(), name.size());
  p[32] = 0x08;
  Put16(p, 40, 2, big);
  Put32(p, 42, noise, big);
  Put32(p, 46, 300, big);
  Put32(p, 50, 100, big);
  Put16(p, 54, 30, big);
  Put16(p, 56, 15, big);
  Put16(p, 58, complexity, big);
  Put16(p, 60, 1, big);
  Put16(p, 62, 50, big);
  Put16(p, 64, 10, big);
  p[66] = 8;
  return p;
}

class PrefsTest : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    SetDefaults();
    ClearMessageLog();
  }
  void TearDown() override {
    ClearPresets();
    ClearCustomColors();
    TessTest::TearDown();
  }
  // Writes bytes to a file and reads it as the preferences or settings file.
  bool ReadBytes(const std::string& bytes, bool settings) {
    std::string path = PathIn(settings ? "TS.SET" : "TS.PRF");
    WriteFileBytes(path, bytes);
    int16_t f = FileOpen(path.c_str(), kFileRead);
    EXPECT_NE(f, kNoFile);
    bool ok = ReadPrefsFile(f, settings).ok();
    FileClose(f);
    return ok;
  }
  std::string WriteBytes(bool settings) {
    std::string path = PathIn(settings ? "out.set" : "out.prf");
    int16_t f = FileCreate(path.c_str());
    EXPECT_NE(f, kNoFile);
    EXPECT_TRUE(WritePrefsFile(f, settings).ok());
    FileClose(f);
    return ReadFileBytes(path);
  }
  std::string PresetNames() {
    std::string s;
    for (int i = 0; i < PresetCount(); ++i) s += std::string(PresetAt(i)->name) + ";";
    return s;
  }
};

TEST_F(PrefsTest, DefaultsAreTheDocumentedValues) {
  EXPECT_EQ(int{gPrefs->previewKind}, 1);
  EXPECT_EQ(int{gPrefs->outputFormat}, 3);
  EXPECT_EQ(int{gPrefs->drawThickness}, 4);
  EXPECT_EQ(gPrefs->wandTolerance, 32);
  EXPECT_EQ(gPrefs->flags0, PrefFlag::beepAfterConvert | PrefFlag::expandSpread | 0x20);
  EXPECT_EQ(gPrefs->flags1, PrefFlag::savePositions | PrefFlag::eliminateHidden);
  EXPECT_STREQ(gPrefs->scratchFolder, TempFolder());
  EXPECT_EQ(PresetNames(), "Defaults;");
  EXPECT_STREQ(gConvSettings->name, "Defaults");
}

TEST_F(PrefsTest, BothFilesRoundTripByteExactly) {
  ConversionSettings fine = *gConvSettings;
  strcpy(fine.name, "Fine");
  fine.tolerance = 12;
  fine.noiseSuppression = 250;
  fine.fitFlags = FitOption::refineCurves;
  ASSERT_NE(NewPreset(&fine), nullptr);
  *gConvSettings = fine;
  gPrefs->flags0 |= PrefFlag::restoreSettings;
  gPrefs->outputFormat = 5;
  RecordDialogPosition(7, 300, 200);
  CustomColorEntry* c = NewColorEntry();
  ASSERT_NE(c, nullptr);
  strcpy(c->name, "Teal");
  c->color[0] = 200;
  c->tagged = 1;

  std::string set = WriteBytes(true);
  std::string prf = WriteBytes(false);
  ASSERT_EQ(set.size(), 6u + 736 + 2 * 68);
  ASSERT_EQ(prf.size(), 6u + 736 + 38);
  EXPECT_EQ(set.substr(0, 6), std::string("\xB8\xB0\xED\xFE\x02\x00", 6));
  EXPECT_EQ(set.substr(6 + 18, 2), std::string("\x02\x00", 2));  // preset count
  EXPECT_EQ(prf.substr(6 + 18, 2), std::string("\x00\x00", 2));  // never presets
  EXPECT_EQ(prf.substr(6 + 16, 2), std::string("\x01\x00", 2));  // one color
  EXPECT_EQ(prf.substr(6 + 21, 5), std::string("Fine\0", 5));    // the current settings' name
  EXPECT_EQ(set.substr(6 + 736 + 68, 4), "Fine");
  EXPECT_EQ(set.substr(6 + 736 + 35, 1), std::string(1, '\0'));  // Defaults: no Refine curves
  EXPECT_EQ(set.substr(6 + 736 + 68 + 35, 1), "\x01");          // Fine: Refine curves
  EXPECT_EQ(prf.substr(6 + 736, 5), std::string("Teal\0", 5));

  PrefsRecord saved = *gPrefs;
  SetDefaults();
  ASSERT_TRUE(ReadBytes(prf, false));
  ASSERT_TRUE(ReadBytes(set, true));
  EXPECT_EQ(MessageIds(), std::vector<int>{});
  EXPECT_EQ(memcmp(gPrefs, &saved, sizeof saved), 0);
  EXPECT_EQ(PresetNames(), "Defaults;Fine;");
  EXPECT_EQ(memcmp(PresetAt(1), &fine, sizeof fine), 0);
  EXPECT_EQ(int{gConvSettings->tolerance}, 12);  // the selected preset was applied
  ASSERT_EQ(CustomColorCount(), 1);
  EXPECT_STREQ(CustomColorAt(0)->name, "Teal");
  EXPECT_EQ(CustomColorAt(0)->color[0], 200);
}

TEST_F(PrefsTest, SettingsFileRecoveryRules) {
  struct Case {
    const char* what;
    std::string bytes;
    bool valid;
    std::string presets;  // names afterwards
  };
  std::string two = Header(2) + Record(2) + Preset("A", 800) + Preset("B", 800);
  const Case cases[] = {
      {"two presets", two, true, "A;B;"},
      {"truncated in the second preset", two.substr(0, two.size() - 10), false, "A;"},
      {"count above 500", Header(2) + Record(501) + Preset("A", 800), false, "Defaults;"},
      {"negative count", Header(2) + Record(-1), false, "Defaults;"},
      {"short header", std::string("\xB8\xB0\xED", 3), false, "Defaults;"},
      {"bad magic", std::string("\xB8\xB0\xED\xFF\x02\x00", 6) + Record(1) + Preset("A", 800), false, "Defaults;"},
      {"version 3", Header(3) + Record(1) + Preset("A", 800), false, "Defaults;"},
      {"short record", Header(2) + Record(1).substr(0, 700), false, "Defaults;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetDefaults();
    PrefsRecord before = *gPrefs;
    ClearMessageLog();
    EXPECT_EQ(ReadBytes(c.bytes, true), c.valid);
    EXPECT_EQ(PresetNames(), c.presets);
    EXPECT_EQ(MessageIds(), c.valid ? std::vector<int>{} : std::vector<int>{83});
    // The settings file changes nothing but the presets.
    before.presetCount = gPrefs->presetCount;
    EXPECT_EQ(memcmp(gPrefs, &before, sizeof before), 0);
  }
}

TEST_F(PrefsTest, FiveHundredPresetsAreTheLimit) {
  std::string bytes = Header(2) + Record(500);
  for (int i = 0; i < 500; ++i) {
    char name[8];
    snprintf(name, sizeof name, "P%d", i);
    bytes += Preset(name, 800);
  }
  ASSERT_TRUE(ReadBytes(bytes, true));
  EXPECT_EQ(PresetCount(), 500);
  EXPECT_STREQ(PresetAt(499)->name, "P499");
  ConversionSettings extra = *gConvSettings;
  EXPECT_EQ(NewPreset(&extra), nullptr);
  EXPECT_EQ(MessageIds(), std::vector<int>{305});
}

TEST_F(PrefsTest, NoiseSuppressionIsClampedAndBigEndianPresetsSwapped) {
  std::string bytes = Header(2, true) + std::string(244, '\0');
  Put16(bytes, 6 + 22, 3, true);  // preset count of the big-endian layout
  bytes += Preset("Big", 9000, true) + Preset("Low", 50, true) + Preset("Mid", 1234, true);
  ASSERT_TRUE(ReadBytes(bytes, true));
  ASSERT_EQ(PresetNames(), "Big;Low;Mid;");
  EXPECT_EQ(int{PresetAt(0)->noiseSuppression}, 8000);
  EXPECT_EQ(int{PresetAt(1)->noiseSuppression}, 100);
  const ConversionSettings* s = PresetAt(2);
  EXPECT_EQ(int{s->noiseSuppression}, 1234);
  EXPECT_EQ(int{s->lineType}, 2);
  EXPECT_EQ(int{s->lineThinning}, 300);
  EXPECT_EQ(int{s->tolerance}, 15);
  EXPECT_EQ(int{s->contrast}, 10);
  EXPECT_EQ(s->maxColors, 8);  // a version 2 preset keeps its colors
}

TEST_F(PrefsTest, BigEndianPreferencesKeepOnlyFormatPreviewAndCounts) {
  std::string rec(244, '\x11');
  Put16(rec, 8, 4, true);   // preview
  Put16(rec, 10, 5, true);  // format
  Put16(rec, 12, 1, true);
  Put16(rec, 14, 3, true);  // thickness
  Put16(rec, 20, 0, true);  // colors
  Put16(rec, 22, 7, true);  // presets: ignored in the preferences file
  ASSERT_TRUE(ReadBytes(Header(2, true) + rec, false));
  EXPECT_EQ(int{gPrefs->previewKind}, 4);
  EXPECT_EQ(int{gPrefs->outputFormat}, 5);
  EXPECT_EQ(int{gPrefs->pixelWriterKind}, 1);
  EXPECT_EQ(int{gPrefs->drawThickness}, 3);
  EXPECT_EQ(PresetNames(), "Defaults;");
  EXPECT_EQ(int{gPrefs->dialogPositions[5][0]}, 0);
  EXPECT_EQ(int{gPrefs->mainWindow[2]}, 0);
  EXPECT_STREQ(gPrefs->pluginFolder, "");
  EXPECT_STREQ(gPrefs->scratchFolder, TempFolder());
  EXPECT_EQ(gPrefs->wandTolerance, 32);  // not in that layout: the default stays
}

TEST_F(PrefsTest, VersionOneFilesAreConverted) {
  std::string rec = Record(0).substr(0, 214);
  rec[0] = 0x01 | 0x02;
  ASSERT_TRUE(ReadBytes(Header(1) + rec, false));
  EXPECT_EQ(MessageIds(), std::vector<int>{361});
  EXPECT_EQ(gPrefs->flags0, 0x03);
  EXPECT_EQ(int{gPrefs->drawThickness}, 2);
  EXPECT_EQ(gPrefs->wandTolerance, 40);
  EXPECT_STREQ(gPrefs->selectedPreset, "Fine");
  EXPECT_EQ(int{gPrefs->dialogPositions[3][0]}, 120);
  EXPECT_EQ(int{gPrefs->dialogPositions[3][1]}, 80);
  EXPECT_STREQ(gPrefs->scratchFolder, TempFolder());  // beyond the old record: default

  // Version 1 presets: a complexity above 2 turns on posterizing, and the
  // color fields take their later defaults. Big-endian counts are swapped in
  // place.
  std::string big = Record(0).substr(0, 214);
  Put16(big, 18, 2, true);
  ClearMessageLog();
  ASSERT_TRUE(ReadBytes(Header(1, true) + big + Preset("Old", 800, true, 5) + Preset("Flat", 800, true, 2), true));
  EXPECT_EQ(MessageIds(), std::vector<int>{361});
  ASSERT_EQ(PresetNames(), "Old;Flat;");
  EXPECT_TRUE(PresetAt(0)->optionFlags & Option::posterize);
  EXPECT_FALSE(PresetAt(1)->optionFlags & Option::posterize);
  EXPECT_EQ(PresetAt(0)->maxColors, 16);
  EXPECT_EQ(int{PresetAt(0)->complexity}, 10);
}

// Both files are read, one setting is changed, both are written again: the
// bytes differ from the files read exactly where that setting lies. Bytes
// and bits no setting uses (2 to 7, flags 0 bit 0x80, flags 1 bit 0x20)
// stay as they were, and both records carry the custom color count.
TEST_F(PrefsTest, WritingChangesOnlyTheBytesOfWhatChanged) {
  std::string rec = Record(0, 2);
  rec[0] = static_cast<char>(0x02 | 0x80);
  rec[1] = static_cast<char>(0x02 | 0x20);
  memcpy(&rec[2], "\x11\x22\x33\x44\x55\x66", 6);
  memcpy(&rec[21], "Defaults\0\0\0\0", 12);
  std::string colors(2 * 38, '\0');
  memcpy(&colors[0], "Rust", 4);
  memcpy(&colors[38], "Sea", 3);
  colors[38 + 33] = 1;  // tagged
  std::string preset = Preset("Defaults", 800);
  const std::string prfIn = Header(2) + rec + colors;
  std::string setRec = rec;
  Put16(setRec, 18, 1);
  const std::string setIn = Header(2) + setRec + preset;

  const struct {
    const char* name;
    void (*change)();
    size_t offset;
    std::string bytes;
  } cases[] = {
      {"thickness", [] { gPrefs->drawThickness = 1; }, 14, std::string("\x01\x00", 2)},
      {"output format", [] { gPrefs->outputFormat = 5; }, 10, std::string("\x05\x00", 2)},
      {"wand tolerance", [] { gPrefs->wandTolerance = 7; }, 20, "\x07"},
      {"restore settings", [] { gPrefs->flags0 |= PrefFlag::restoreSettings; }, 0, "\x83"},
      {"replace batch files", [] { gPrefs->flags1 |= PrefFlag::batchReplaceFiles; }, 1, "\x23"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(ReadBytes(prfIn, false));
    ASSERT_TRUE(ReadBytes(setIn, true));
    c.change();
    std::string prfWant = prfIn, setWant = setIn;
    prfWant.replace(6 + c.offset, c.bytes.size(), c.bytes);
    setWant.replace(6 + c.offset, c.bytes.size(), c.bytes);
    EXPECT_EQ(WriteBytes(false), prfWant);
    EXPECT_EQ(WriteBytes(true), setWant);
  }
}

// SetDefaults sets the fields it names and leaves every other bit and byte
// of the record as it was, whatever they held.
TEST_F(PrefsTest, DefaultsChangeOnlyTheFieldsTheyName) {
  for (int fill : {0x00, 0xFF, 0x5A}) {
    SCOPED_TRACE(fill);
    memset(gPrefsEdit, fill, sizeof *gPrefsEdit);
    SetDefaults();
    std::string want(sizeof(PrefsRecord), static_cast<char>(fill));
    want[0] = static_cast<char>((fill & ~(0x01 | 0x40 | 0x10)) | 0x02 | 0x20 | 0x08);
    want[1] = static_cast<char>((fill & ~(0x01 | 0x04)) | 0x02 | 0x10);
    Put16(want, 8, 1);   // preview
    Put16(want, 10, 3);  // output format
    Put16(want, 12, 0);
    Put16(want, 14, 4);  // thickness
    Put16(want, 16, 0);  // no custom colors
    Put16(want, 18, 1);  // the one preset "Defaults"
    want[20] = 32;       // wand tolerance
    want.replace(54, 224 - 54, std::string(224 - 54, '\0'));  // positions, window placement
    want.replace(224, 512, std::string(512, '\0'));          // plug-in and scratch folders
    want.replace(480, strlen(TempFolder()), TempFolder());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(gPrefs), sizeof *gPrefs), want);
    EXPECT_EQ(PresetNames(), "Defaults;");
    EXPECT_STREQ(gConvSettings->name, "Defaults");
  }
}

TEST_F(PrefsTest, PreferencesFileRecovery) {
  // Claimed presets are never read from the preferences file.
  std::string claims = Header(2) + Record(3) + Preset("X", 800);
  EXPECT_TRUE(ReadBytes(claims, false));
  EXPECT_EQ(PresetNames(), "Defaults;");
  EXPECT_EQ(int{gPrefs->presetCount}, 1);

  // The output format of earlier versions becomes format 3 with a preview.
  std::string old = Record(0);
  Put16(old, 8, 0);
  Put16(old, 10, 6);
  ASSERT_TRUE(ReadBytes(Header(2) + old, false));
  EXPECT_EQ(int{gPrefs->outputFormat}, 3);
  EXPECT_EQ(int{gPrefs->previewKind}, 1);

  // Invalid files: message 40 and the defaults, nothing of the file kept.
  const std::string bad[] = {Header(2) + Record(0).substr(0, 100), Header(7) + Record(0),
                             Header(2) + Record(0, 2) + std::string(38, 'a'), Header(2) + Record(0, 901)};
  for (const std::string& bytes : bad) {
    gPrefs->outputFormat = 5;
    ClearMessageLog();
    EXPECT_FALSE(ReadBytes(bytes, false));
    EXPECT_EQ(MessageIds(), std::vector<int>{40});
    EXPECT_EQ(int{gPrefs->outputFormat}, 3);
    EXPECT_EQ(int{gPrefs->drawThickness}, 4);
    EXPECT_EQ(CustomColorCount(), 0);
  }
}

TEST_F(PrefsTest, UnterminatedStringsAndWildValuesAreTamed) {
  std::string rec = Record(0);
  memset(&rec[21], 'n', 33);
  memset(&rec[480], 's', 256);
  Put16(rec, 14, 77);
  ASSERT_TRUE(ReadBytes(Header(2) + rec, false));
  EXPECT_EQ(strlen(gPrefs->selectedPreset), 32u);
  EXPECT_EQ(strlen(gPrefs->scratchFolder), 255u);
  EXPECT_EQ(int{gPrefs->drawThickness}, 4);
  std::string p = Preset("", 800);
  memset(&p[0], 'q', 32);
  ASSERT_TRUE(ReadBytes(Header(2) + Record(1) + p, true));
  EXPECT_EQ(strlen(PresetAt(0)->name), 31u);
}

TEST_F(PrefsTest, EveryPresetFieldIsBroughtIntoItsDialogsRange) {
  struct Case {
    const char* field;
    size_t offset;
    int size;
    int32_t written, read;
  } const cases[] = {
      {"line type", 40, 2, 9, 0},  // a choice: the default
      {"line type", 40, 2, -1, 0},
      {"noise suppression", 42, 4, 9000, 8000},
      {"noise suppression", 42, 4, 50, 100},
      {"line thinning", 46, 4, 0x7FFFFFFF, 2000},
      {"line thinning", 46, 4, -5, 0},
      {"line weight", 50, 4, 99999, 1200},
      {"line weight", 50, 4, INT32_MIN, 0},
      {"straight to curved", 54, 2, 0, 10},
      {"straight to curved", 54, 2, 51, 50},
      {"tolerance", 56, 2, 32767, 50},
      {"tolerance", 56, 2, 9, 10},
      {"complexity", 58, 2, 1, 2},
      {"complexity", 58, 2, 999, 20},
      {"noise reduction", 60, 2, 7, 1},  // a choice: the default
      {"threshold", 62, 2, 200, 100},
      {"contrast", 64, 2, -1, 0},
      {"maximum colors", 66, 1, 0, 2},
      {"maximum colors", 66, 1, 1, 2},
      {"boost", 67, 1, 255, 100},
      {"boost", 67, 1, 100, 100},  // in range: as it is
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + std::to_string(c.written));
    std::string p = Preset("Wild", 800);
    if (c.size == 1) p[c.offset] = static_cast<char>(c.written);
    if (c.size == 2) Put16(p, c.offset, c.written);
    if (c.size == 4) Put32(p, c.offset, c.written);
    ClearMessageLog();
    ASSERT_TRUE(ReadBytes(Header(2) + Record(1) + p, true));
    const SettingRange* range = SettingRangeAt(c.offset);
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(GetSetting(PresetAt(0), *range), c.read);
    EXPECT_TRUE(MessageIds().empty());
  }
  // Nothing derived from a preset can overflow: at most 20 thinning steps.
  std::string p = Preset("Wild", 800);
  Put32(p, 46, 0x7FFFFFFF);
  ASSERT_TRUE(ReadBytes(Header(2) + Record(1) + p, true));
  EXPECT_EQ(ThinningSteps(PresetAt(0)), 20);
}

TEST_F(PrefsTest, EveryPreferenceChoiceIsOneOfItsMeanings) {
  struct Case {
    const char* field;
    size_t offset;
    int written, read;
  } const cases[] = {
      {"preview", 8, 9, 1},          {"preview", 8, -3, 1},    {"preview", 8, 5, 5},
      {"output format", 10, 42, 3},  {"output format", 10, 7, 3},  // the clipboard's code is never stored
      {"output format", 10, 5, 5},   {"pixel image format", 12, 2, 0}, {"pixel image format", 12, 3, 3},
      {"pixel image format", 12, -1, 0}, {"thickness", 14, 77, 4}, {"thickness", 14, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + std::to_string(c.written));
    std::string rec = Record(0);
    Put16(rec, c.offset, c.written);
    ASSERT_TRUE(ReadBytes(Header(2) + rec, false));
    int16_t got;
    memcpy(&got, reinterpret_cast<const uint8_t*>(gPrefs) + c.offset, 2);
    EXPECT_EQ(got, c.read);
  }
  // A custom color's tag is 0 or 1.
  std::string color(38, '\0');
  memcpy(&color[0], "Odd", 3);
  color[36] = 7;
  ASSERT_TRUE(ReadBytes(Header(2) + Record(0, 1) + color, false));
  ASSERT_EQ(CustomColorCount(), 1);
  EXPECT_EQ(CustomColorAt(0)->tagged, 1);
}

TEST_F(PrefsTest, DefaultsCanBeNeitherDeletedNorRenamed) {
  ConversionSettings s = *gConvSettings;
  strcpy(s.name, "Coarse");
  ASSERT_NE(NewPreset(&s), nullptr);
  EXPECT_TRUE(DeletePreset(1).ok());
  EXPECT_FALSE(DeletePreset(0).ok());
  EXPECT_FALSE(RenamePreset(0, "Mine").ok());
  EXPECT_TRUE(RenamePreset(0, "Defaults").ok());  // typing the same name is no rename
  EXPECT_EQ(PresetNames(), "Defaults;");
  EXPECT_EQ(MessageIds(), (std::vector<int>{252, 254}));
}

TEST_F(PrefsTest, PresetNameChecks) {
  ConversionSettings s = *gConvSettings;
  strcpy(s.name, "Scan");
  NewPreset(&s);
  struct Case {
    const char* name;
    int selected;
    int id;
  } cases[] = {
      {"", -1, 135},        {"New Option", -1, 312}, {"Scan", -1, 136},  // a new preset may not reuse a name
      {"Scan", 1, 0},                                                     // the selected preset keeps its own
      {"Defaults", 1, 136}, {"scan", -1, 0},                               // case matters
      {"Fresh", -1, 0},
  };
  for (const Case& c : cases) {
    ClearMessageLog();
    EXPECT_EQ(CheckPresetName(c.name, c.selected).message, c.id) << c.name;
    EXPECT_EQ(MessageIds(), c.id ? std::vector<int>{c.id} : std::vector<int>{}) << c.name;
  }
}

TEST_F(PrefsTest, AddingAPresetWithoutMemoryShowsTheMemoryMessage) {
  ClearPresets();
  MemFailNext(1);
  EXPECT_EQ(NewPreset(gConvSettings), nullptr);
  EXPECT_EQ(MessageIds(), std::vector<int>{237});
  EXPECT_EQ(PresetCount(), 0);
  for (int i = 0; i < 8; ++i) ASSERT_NE(NewPreset(gConvSettings), nullptr);
  MemFailNext(1);  // the block must grow for the ninth
  EXPECT_EQ(NewPreset(gConvSettings), nullptr);
  EXPECT_EQ(PresetCount(), 8);
}

TEST_F(PrefsTest, SelectedPresetIsAppliedOnlyWhenRestoreIsOn) {
  ConversionSettings s = *gConvSettings;
  strcpy(s.name, "Loose");
  s.tolerance = 50;
  NewPreset(&s);
  strcpy(gPrefs->selectedPreset, "Loose");
  gPrefs->flags0 &= static_cast<uint8_t>(~PrefFlag::restoreSettings);
  ASSERT_TRUE(ApplySelectedPreset());
  EXPECT_STREQ(gConvSettings->name, "Defaults");
  gPrefs->flags0 |= PrefFlag::restoreSettings;
  ASSERT_TRUE(ApplySelectedPreset());
  EXPECT_STREQ(gConvSettings->name, "Loose");
  EXPECT_EQ(int{gConvSettingsEdit->tolerance}, 50);
  strcpy(gPrefs->selectedPreset, "loose");  // exact comparison
  EXPECT_FALSE(ApplySelectedPreset());
}

TEST_F(PrefsTest, LoadAndSaveUseTheFilesBesideTheProgram) {
  SetModuleFolder(Dir().c_str());
  ClearPresets();
  ScriptAnswers({kAnswerNo});  // no built-in colors when "Default Custom Colors" is missing
  LoadPreferences();
  EXPECT_EQ(std::string(gDocument->prefsFilePath), PathIn("TS.PRF"));
  EXPECT_EQ(PresetNames(), "Defaults;");
  for (int id : MessageIds()) EXPECT_TRUE(id != 40 && id != 83) << id;

  ConversionSettings s = *gConvSettings;
  strcpy(s.name, "Kept");
  NewPreset(&s);
  gPrefs->flags0 |= PrefFlag::restoreSettings;
  *gConvSettings = s;
  ASSERT_TRUE(SavePreferences().ok());
  std::string prf = ReadFileBytes(PathIn("TS.PRF"));
  std::string set = ReadFileBytes(PathIn("TS.SET"));

  // A full disk: both messages, and the files of the previous run survive.
  FileFailWritesAfter(100);
  ClearMessageLog();
  EXPECT_FALSE(SavePreferences().ok());
  FileFailWritesAfter(-1);
  EXPECT_EQ(MessageIds(), (std::vector<int>{39, 82}));
  EXPECT_EQ(ReadFileBytes(PathIn("TS.PRF")), prf);
  EXPECT_EQ(ReadFileBytes(PathIn("TS.SET")), set);
  for (const std::string& name : FolderEntries(Dir()))
    EXPECT_TRUE(name == "TS.PRF" || name == "TS.SET") << name << " was left behind";

  // The next start restores the selected preset.
  SetDefaults();
  ClearMessageLog();
  ScriptAnswers({kAnswerNo});
  LoadPreferences();
  EXPECT_EQ(PresetNames(), "Defaults;Kept;");
  EXPECT_STREQ(gConvSettings->name, "Kept");
  SetModuleFolder("");
}

TEST_F(PrefsTest, DialogPlacement) {
  const ScreenGeometry screen{1000, 800, 20};
  struct Case {
    int index;
    int16_t top, left;
    bool positionsOn;
    DialogPlace want;
    bool stored;  // the pair was replaced by the centred place
  } cases[] = {
      {-1, 100, 100, true, {400, 350, true}, false},
      {3, 100, 100, true, {100, 100, false}, false},
      {3, 100, 100, false, {400, 350, true}, false},  // positions off
      {0, 100, 100, false, {100, 100, false}, false},  // the toolbox always keeps its place
      {3, 0, 0, true, {400, 350, true}, false},
      {3, 10, 100, true, {400, 350, true}, true},    // under the menu bar
      {3, 100, 0, true, {400, 350, true}, true},     // left edge
      {3, 100, 900, true, {400, 350, true}, true},   // off the right side
      {3, 750, 100, true, {400, 350, true}, true},   // off the bottom
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.index << " " << c.top << "," << c.left);
    gPrefs->flags1 = c.positionsOn ? PrefFlag::savePositions : 0;
    int slot = c.index < 0 ? 3 : c.index;
    gPrefs->dialogPositions[slot][0] = c.top;
    gPrefs->dialogPositions[slot][1] = c.left;
    DialogPlace p = PlaceDialog(c.index, 200, 100, screen);
    EXPECT_EQ(p.left, c.want.left);
    EXPECT_EQ(p.top, c.want.top);
    EXPECT_EQ(p.centered, c.want.centered);
    if (c.stored) {
      EXPECT_EQ(int{gPrefs->dialogPositions[slot][1]}, 400);
      EXPECT_EQ(int{gPrefsEdit->dialogPositions[slot][0]}, 350);
    }
  }
}

TEST_F(PrefsTest, TurningPositionsOnCanResetThem) {
  for (int i = 0; i < kDialogPositionCount; ++i) RecordDialogPosition(i, 50 + i, 60 + i);
  ScriptAnswers({kAnswerYes});
  AskKeepPositions();
  EXPECT_EQ(int{gPrefs->dialogPositions[0][0]}, 60);
  ScriptAnswers({kAnswerNo});
  AskKeepPositions();
  EXPECT_EQ(MessageIds(), (std::vector<int>{258, 258, 259}));
  for (PrefsRecord* r : {gPrefs, gPrefsEdit}) {
    EXPECT_EQ(int{r->dialogPositions[17][1]}, 0);
    EXPECT_EQ(int{r->dialogPositions[18][1]}, 50 + 18);  // only the first 18 are reset
  }
}

}  // namespace
