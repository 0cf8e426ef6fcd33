// tessary-cli: converts image files to vector art with the program's own
// document, conversion, batch and art-writing code, on the headless backend.
//
//   tessary-cli [options] INPUT...          batch: art beside each input, or in --output-dir
//   tessary-cli [options] INPUT -o OUTPUT   one file; the format follows OUTPUT's extension
//   tessary-cli [options] - [-o -]           standard input to standard output
//
// Exit status: 0 when every file was converted and saved, 3 when every file
// was saved but some art is incomplete (paths dropped at the path limit or
// for memory), 1 when any failed, 2 for bad usage.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/std_streams.h"
#include "cli/workers.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/custom_colors.h"
#include "engine/levels.h"
#include "engine/settings.h"
#include "output/art_writer.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "raster/pixel_writers.h"
#include "shell/batch.h"
#include "shell/document.h"
#include "shell/prefs.h"
#include "shell/startup.h"

namespace {

const char kUsage[] =
    "usage: tessary-cli [options] INPUT...          (art beside each input, or in --output-dir)\n"
    "       tessary-cli [options] INPUT -o OUTPUT   (one file; the format follows OUTPUT's extension)\n"
    "       tessary-cli [options] - [-o -]           (standard input to standard output)\n"
    "\n"
    "Traces one-bit, gray and color images (PNG, JPEG, GIF, WebP, BMP, PBM/PGM/PPM, TIFF,\n"
    "PCX, Sun raster, MacPaint, Ranvelle) into vector art.\n"
    "\n"
    "Input:\n"
    "  INPUT                     an image file; - reads the image from standard input (the\n"
    "                            kind is told by the content) and writes the art to standard\n"
    "                            output unless -o names a file\n"
    "      --resolution DPI      take every image at DPI pixels per inch (24 to 4000) instead\n"
    "                            of its file's own resolution (or 72 when it has none)\n"
    "\n"
    "Output:\n"
    "  -o, --output FILE         write the art of the single INPUT to FILE (.qv .eps .dxf .svg\n"
    "                            .pdf .emf); - writes it to standard output\n"
    "  -d, --output-dir DIR      batch: write the art into DIR instead of beside each input\n"
    "  -f, --format FMT          qv | eps (header, no preview) | eps-bw | eps-color (TIFF\n"
    "                            preview) | dxf | svg | pdf | emf; default eps, or OUTPUT's\n"
    "                            extension\n"
    "  -r, --replace             batch: replace existing art files (otherwise they are skipped)\n"
    "  -j, --jobs N              batch: convert in N worker processes at once (1 to 64)\n"
    "      --save-image FILE     also write the opened pixel image to FILE (.rvd Ranvelle or\n"
    "                            .tif TIFF); with a single INPUT and no -o, nothing is traced\n"
    "\n"
    "Conversion (defaults: outline, tolerance 3, noise 8, thinning 3, weight 1, uniform weight):\n"
    "  -m, --method LIST         outline,centerline,lines in any combination (comma-separated)\n"
    "      --tolerance N         curve fit tolerance, 1.0 to 5.0\n"
    "      --noise N             noise suppression in pixels, 1 to 80\n"
    "      --thinning N          line thinning steps, 0 to 20\n"
    "      --line-weight N       uniform line weight in points, 0 to 12\n"
    "      --straight-to-curved N  1.0 to 5.0\n"
    "      --line-type T         both | curved | straight\n"
    "      --uniform-weight, --no-uniform-weight\n"
    "      --white-lines         trace white lines on black (centerline)\n"
    "      --reverse             reverse the image (trace white shapes)\n"
    "      --separate-shapes     shapes share their boundaries\n"
    "      --refine-curves       fit each curve's control points to the traced pixels\n"
    "      --settings FILE       a settings presets file (TS.SET layout)\n"
    "      --preset NAME         the preset of --settings to start from (default: Defaults)\n"
    "      --downsample          halve gray and color images (2:1) before converting\n"
    "\n"
    "Gray and color images (defaults: bw, threshold 50, noise reduction medium,\n"
    "complexity 10, max colors 16, color averaging on):\n"
    "      --colors MODE         bw (black and white only) | limited | unlimited | custom:\n"
    "                            the last three posterize into areas of like color that\n"
    "                            share their boundaries (Outline only)\n"
    "      --complexity N        how many sub-areas of color to tell apart, 2 to 20\n"
    "      --max-colors N        limited: the most colors kept, 2 to 255\n"
    "      --noise-reduction R   none | medium | max\n"
    "      --reduce-detail       one code per 2 x 2 pixels (fewer, coarser areas)\n"
    "      --no-averaging        each area takes its most common color, not the mean\n"
    "      --custom-colors FILE  custom: the colors to fill with (a color file; the 29\n"
    "                            built-in colors when none is given)\n"
    "      --tagged-only         custom: only the tagged colors of the list\n"
    "      --tints               custom: also the 10 % to 90 % tints of each color\n"
    "      --threshold P         bw: 0 to 100; the higher, the less of the sample range\n"
    "                            turns black (P percent of it stays white)\n"
    "      --contrast P          bw: black where the local contrast exceeds P percent,\n"
    "                            0 to 100 (instead of the threshold)\n"
    "      --boost P             bw, with --contrast: boost the contrast by P percent, 0 to 100\n"
    "      --levels B,G,W        remap the tones first: black point 0 to 253, gamma\n"
    "                            0.10 to 9.99, white point 2 to 255 (at least B + 2)\n"
    "\n"
    "Other:\n"
    "  -q, --quiet               no progress bar and no lines for the files saved\n"
    "                            (failures are always reported)\n"
    "  -h, --help                this text\n"
    "\n"
    "Messages of the converter are written to standard error, one line per failure.\n"
    "An output never replaces an input file, a folder, pipe or device; a file it\n"
    "replaces stays as it was unless the new one was written completely.\n"
    "\n"
    "Exit status:\n"
    "  0  every file was converted and saved\n"
    "  3  every file was saved, but some art is incomplete: the conversion had to drop\n"
    "     short paths (too many paths, or memory ran short); a line says how many\n"
    "  1  any file was not converted or not saved\n"
    "  2  bad usage\n";

struct Options {
  std::vector<std::string> inputs;
  std::string output;
  std::string outputDir;
  std::string format;  // empty: from -o's extension, else eps
  std::string saveImage;
  std::string settingsFile;
  std::string preset;
  std::string customColors;
  bool replace = false;
  bool quiet = false;
  bool downsample = false;
  int jobs = 1;
  double resolution = 0;  // 0: each file's own
};

// --levels: applied to the samples of every gray or color image opened.
struct CommandLineLevels {
  bool apply = false;
  LevelsValues values = kLevelsIdentity;
};
CommandLineLevels gCommandLineLevels;

volatile sig_atomic_t gInterrupted = 0;
bool gQuiet = false;
bool gProgressBar = false;
bool gBarShown = false;
int gFailures = 0;
int gIncomplete = 0;  // files saved with paths dropped

void OnInterrupt(int) { gInterrupted = 1; }

// Warnings shown while a file is worked on are held and told with that
// file's line, so that every failure is one line that says why.
struct HeldMessage {
  int id;
  std::string text;
};
std::vector<HeldMessage> gHeld;
bool gHolding = false;

// ---------------------------------------------------------------------------
// The backend: messages to standard error, a progress bar on a terminal, and
// Ctrl+C as the Stop button.

// Nobody is there to answer: an existing art file is skipped (--replace
// overwrites without asking), every other question takes its default.
int CliAnswer(int id, int kind) {
  if (kind == kMessageWarning || kind == kMessageInformation) return kAnswerOK;
  if (id == kStrFileAlreadyExists) return kAnswerNo;
  return kind == kMessageOKCancel ? kAnswerOK : kAnswerYes;
}

// The one progress line: a bar, the percentage and a text; a negative
// percent takes it away.
void DrawBar(int percent, const char* text) {
  if (!gProgressBar) return;
  if (percent < 0) {
    if (gBarShown) fputs("\r\033[K", stderr);
    gBarShown = false;
    return;
  }
  const int width = 30;
  std::string bar(static_cast<size_t>(percent * width / 100), '#');
  bar.resize(width, '.');
  fprintf(stderr, "\r\033[K[%s] %3d%% %s", bar.c_str(), percent, text);
  fflush(stderr);
  gBarShown = true;
}

// One line (with its line end) on standard error, the progress line taken
// away first; a batch worker hands it to the parent, which prints it.
void Say(const std::string& line) {
  if (TellParent(line)) return;
  DrawBar(-1, "");
  fputs(line.c_str(), stderr);
}

int CliShowMessage(int id, int kind, const char* text) {
  if (gHolding && (kind == kMessageWarning || kind == kMessageInformation)) {
    gHeld.push_back(HeldMessage{id, text});
    return kAnswerOK;
  }
  Say(std::string("tessary-cli: ") + text + "\n");
  return CliAnswer(id, kind);
}

void CliBeep() {}

void CliProgress(const ProgressModel& m) {
  std::string text = m.text + (m.batchText.empty() ? "" : "  (" + m.batchText + ")");
  DrawBar(m.open ? m.percent : -1, text.c_str());
}

PumpResult CliPump() {
  PumpResult r;
  r.closeRequest = gInterrupted != 0;
  return r;
}

// A line about a file that was saved: silenced by --quiet.
void Note(const char* fmt, const char* a, const char* b = "") {
  if (gQuiet) return;
  char line[3 * kNameBufferSize];
  snprintf(line, sizeof line, fmt, a, b);
  Say(line);
}

// The messages held for the file just done. After a failure they are
// returned, to end its line; after a success each is told on a line of its
// own, but for the messages that say a conversion had to drop paths when
// the file's line counts them.
std::string TakeHeld(bool failed, bool incomplete = false) {
  std::string joined;
  for (const HeldMessage& m : gHeld) {
    if (failed) {
      joined += (joined.empty() ? "" : " ") + m.text;
    } else if (!incomplete || (m.id != kStrPathLimitExceeded && m.id != kStrPathsSkippedMemory)) {
      Say("tessary-cli: " + m.text + "\n");
    }
  }
  gHeld.clear();
  return joined.empty() ? "" : " (" + joined + ")";
}

// A line about a file that failed: always shown, one line on standard error,
// with the messages held for it.
void FileFailed(const char* file, const char* why) {
  std::string held = TakeHeld(true);
  Say(std::string(file) + ": " + why + held + "\n");
}

// The line of a file that was saved with paths dropped; always shown.
void Incomplete(const char* source, const char* output, int32_t dropped) {
  Say(std::string(source) + " -> " + output + ": saved, but incomplete: " + std::to_string(dropped) +
      " short paths were dropped\n");
}

// ---------------------------------------------------------------------------
// Options.

int BadUsage(const char* fmt, const char* arg = "") {
  fprintf(stderr, "tessary-cli: ");
  fprintf(stderr, fmt, arg);
  fprintf(stderr, "\nTry 'tessary-cli --help'.\n");
  return 2;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

std::string Extension(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return Lower(path.substr(dot));
}

// Output format and preview of a format name; false for an unknown name.
bool FormatCodes(const std::string& name, int16_t* format, int16_t* preview) {
  struct Entry {
    const char* name;
    int16_t format, preview;
  };
  static const Entry kFormats[] = {{"qv", kFormatEps5, 0},        {"eps", kFormatEps5, 1},
                                   {"eps-bw", kFormatEps5, 4},    {"eps-color", kFormatEps5, 5},
                                   {"dxf", kFormatDxf, 0},        {"emf", kFormatMetafile, 0},
                                   {"svg", kFormatSvg, 0},        {"pdf", kFormatPdf, 0}};
  for (const Entry& e : kFormats)
    if (name == e.name) {
      *format = e.format;
      *preview = e.preview;
      return true;
    }
  return false;
}

// A decimal option, stored scaled, within the range of its settings field.
bool ScaledValue(const char* text, int scale, const SettingRange& range, int32_t* out) {
  int32_t v;
  if (!ParseScaledDecimal(text, '.', scale, &v) || v < range.lo || v > range.hi) return false;
  *out = v;
  return true;
}

// A whole-number option within the range of its settings field.
bool WholeValue(const char* text, const SettingRange& range, int32_t* out) {
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (end == text || *end || v < range.lo || v > range.hi) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

bool TakesValue(const std::string& a) {
  for (const char* name : {"-m", "--method", "--line-type", "--tolerance", "--noise", "--thinning", "--line-weight",
                           "--straight-to-curved", "--colors", "--complexity", "--max-colors", "--noise-reduction",
                           "--threshold", "--contrast", "--boost", "--levels"})
    if (a == name) return true;
  return false;
}

// Applies one conversion option to the settings. Returns 0 when `arg` is not
// a conversion option, 1 when it was taken, 2 after a usage message.
int ConversionOption(const std::string& arg, const char* value, bool* usedValue) {
  ConversionSettings* s = gConvSettings;
  *usedValue = false;
  struct Flag {
    const char* name;
    uint8_t* field;
    uint8_t bit;
    bool on;
  };
  const Flag flags[] = {
      {"--uniform-weight", &s->methodFlags, Method::uniformWeight, true},
      {"--no-uniform-weight", &s->methodFlags, Method::uniformWeight, false},
      {"--reverse", &s->methodFlags, Method::reverseImage, true},
      {"--white-lines", &s->optionFlags, Option::whiteLines, true},
      {"--separate-shapes", &s->optionFlags, Option::separateShapes, true},
      {"--refine-curves", &s->fitFlags, FitOption::refineCurves, true},
      {"--reduce-detail", &s->optionFlags, Option::reduceDetail, true},
      {"--tagged-only", &s->optionFlags, Option::taggedOnly, true},
      {"--tints", &s->colorFlags, ColorOption::generateTints, true},
      {"--no-averaging", &s->colorFlags, ColorOption::averagingOff, true},
  };
  for (const Flag& f : flags) {
    if (arg != f.name) continue;
    *f.field = static_cast<uint8_t>(f.on ? *f.field | f.bit : *f.field & ~f.bit);
    return 1;
  }
  struct Value {
    const char* name;
    int scale;      // the field holds the value times this
    size_t field;   // its offset in the settings; the range is the dialog's
    const char* range;
  };
  const Value values[] = {
      {"--tolerance", 10, offsetof(ConversionSettings, tolerance), "1.0 to 5.0"},
      {"--noise", 100, offsetof(ConversionSettings, noiseSuppression), "1 to 80"},
      {"--thinning", 100, offsetof(ConversionSettings, lineThinning), "0 to 20"},
      {"--line-weight", 100, offsetof(ConversionSettings, lineWeight), "0 to 12"},
      {"--straight-to-curved", 10, offsetof(ConversionSettings, straightToCurved), "1.0 to 5.0"},
      // Whole numbers: their range text comes from the settings' ranges.
      {"--complexity", 1, offsetof(ConversionSettings, complexity), nullptr},
      {"--max-colors", 1, offsetof(ConversionSettings, maxColors), nullptr},
      {"--threshold", 1, offsetof(ConversionSettings, threshold), nullptr},
      {"--contrast", 1, offsetof(ConversionSettings, contrast), nullptr},
      {"--boost", 1, offsetof(ConversionSettings, boost), nullptr},
  };
  bool isValue = arg == "--method" || arg == "-m" || arg == "--line-type" || arg == "--colors" ||
                 arg == "--noise-reduction" || arg == "--levels";
  for (const Value& v : values) isValue = isValue || arg == v.name;
  if (!isValue) return 0;
  if (!value) return BadUsage("%s needs a value", arg.c_str());
  *usedValue = true;
  if (arg == "--method" || arg == "-m") {
    uint8_t methods = 0;
    std::string list = std::string(value) + ",";
    for (size_t start = 0, comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1) {
      std::string m = Lower(list.substr(start, comma - start));
      if (m == "outline") methods |= Method::outline;
      else if (m == "centerline") methods |= Method::centerline;
      else if (m == "lines") methods |= Method::lineRecognition;
      else return BadUsage("unknown method '%s' (outline, centerline, lines)", m.c_str());
    }
    s->methodFlags = static_cast<uint8_t>(
        (s->methodFlags & ~(Method::outline | Method::centerline | Method::lineRecognition)) | methods);
    return 1;
  }
  if (arg == "--line-type") {
    std::string t = Lower(value);
    if (t == "both") s->lineType = 0;
    else if (t == "curved") s->lineType = 1;
    else if (t == "straight") s->lineType = 2;
    else return BadUsage("unknown line type '%s' (both, curved, straight)", value);
    return 1;
  }
  if (arg == "--colors") {
    static const char* const kModes[] = {"limited", "unlimited", "custom", "bw"};
    for (int mode = kPosterLimited; mode <= kPosterBlackWhite; ++mode) {
      if (Lower(value) != kModes[mode - 1]) continue;
      SetPosterizationMode(s, mode);
      return 1;
    }
    return BadUsage("unknown color mode '%s' (bw, limited, unlimited, custom)", value);
  }
  if (arg == "--noise-reduction") {
    static const char* const kReductions[] = {"none", "medium", "max"};
    for (int r = 0; r < 3; ++r) {
      if (Lower(value) != kReductions[r]) continue;
      s->noiseReduction = static_cast<int16_t>(r);
      return 1;
    }
    return BadUsage("unknown noise reduction '%s' (none, medium, max)", value);
  }
  if (arg == "--levels") {
    char tail = 0;
    int b = -1, w = -1;
    double g = 0;
    bool ok = sscanf(value, "%d,%lf,%d%c", &b, &g, &w, &tail) == 3 && b >= 0 && b <= 253 && w >= 2 && w <= 255 &&
              w >= b + 2 && g >= 0.095 && g < 9.995;
    if (!ok)
      return BadUsage("%s", "--levels takes B,G,W: a black point from 0 to 253, a gamma from 0.10 to 9.99 and "
                            "a white point from 2 to 255, at least 2 above the black point");
    gCommandLineLevels.values = LevelsValues{b, g, w};
    gCommandLineLevels.apply = !LevelsAreIdentity(gCommandLineLevels.values);
    return 1;
  }
  for (const Value& v : values) {
    if (arg != v.name) continue;
    const SettingRange& range = *SettingRangeAt(v.field);
    int32_t scaled;
    if (v.scale == 1 ? !WholeValue(value, range, &scaled) : !ScaledValue(value, v.scale, range, &scaled)) {
      std::string what = arg + " takes a " + (v.scale == 1 ? "whole number" : "number") + " from " +
                         (v.range ? std::string(v.range) : std::to_string(range.lo) + " to " + std::to_string(range.hi));
      return BadUsage("%s", what.c_str());
    }
    PutSetting(s, range, scaled);
    if (arg == "--contrast") s->methodFlags |= Method::contrast;
    if (arg == "--boost") s->methodFlags |= Method::boost;
  }
  return 1;
}

// The color options that cannot go together, and the custom colors a
// "custom" conversion fills with. 0, or 2 after a usage message.
int ColorOptionsUsable(const Options& o) {
  const ConversionSettings* s = gConvSettings;
  if ((s->methodFlags & Method::boost) && !(s->methodFlags & Method::contrast))
    return BadUsage("--boost needs --contrast");
  if (s->optionFlags & Option::posterize) {
    if ((s->methodFlags & (Method::centerline | Method::lineRecognition | Method::reverseImage)) ||
        (s->optionFlags & Option::whiteLines))
      return BadUsage("--colors limited, unlimited and custom trace outlines only "
                      "(not with centerline, lines, --reverse or --white-lines)");
  }
  if (!o.customColors.empty()) {
    int kind = FileKindOf(o.customColors.c_str());
    int16_t file = kind == kFileRegular ? FileOpen(o.customColors.c_str(), kFileRead) : kNoFile;
    if (file == kNoFile) return BadUsage("cannot open the custom colors file '%s'", o.customColors.c_str());
    ClearCustomColors();
    ReadColorFile(file, nullptr, nullptr);
    FileClose(file);
    if (CustomColorCount() < 2) return BadUsage("the custom colors file '%s' holds fewer than two colors",
                                                o.customColors.c_str());
  } else if (CustomColorCount() == 0) {
    AddBuiltInColors();
  }
  // Tagged colors only with no color tagged would leave every area without a
  // color and the art empty.
  if ((s->optionFlags & Option::taggedOnly) && PosterizationModeOf(s, false) == kPosterCustom &&
      TaggedCustomColorCount() == 0)
    return BadUsage("--tagged-only: none of the custom colors is tagged");
  return 0;
}

// --levels: the samples of a gray or color image just opened go through
// the levels table.
void ApplyCommandLineLevels() {
  if (!gCommandLineLevels.apply || gImage->bitsPerSample == 1) return;
  uint8_t table[256];
  BuildLevelsTable(gCommandLineLevels.values, table);
  ApplyLevelsToSamples(table);
  DiscardLevelsUndo();
}

// Loads the presets file and starts the settings from the chosen preset.
// Conversion options given on the command line are applied afterwards.
int LoadPresetSettings(const Options& o) {
  int kind = FileKindOf(o.settingsFile.c_str());
  if (kind == kFileFolder) return BadUsage("the settings file '%s' is a folder", o.settingsFile.c_str());
  if (kind == kFileSpecial) return BadUsage("the settings file '%s' is not a regular file", o.settingsFile.c_str());
  int16_t file = FileOpen(o.settingsFile.c_str(), kFileRead);
  if (file == kNoFile) return BadUsage("cannot open the settings file '%s'", o.settingsFile.c_str());
  bool ok = ReadPrefsFile(file, true).ok();
  FileClose(file);
  if (!ok) return 2;
  std::string name = o.preset.empty() ? LoadString(kStrDefaults) : o.preset;
  int index = FindPreset(name.c_str());
  if (index < 0) {
    std::string names;
    for (int i = 0; i < PresetCount(); ++i) names += std::string(names.empty() ? "" : ", ") + PresetAt(i)->name;
    fprintf(stderr, "tessary-cli: no preset named '%s' in %s (presets: %s)\n", name.c_str(),
            o.settingsFile.c_str(), names.c_str());
    return 2;
  }
  *gConvSettings = *PresetAt(index);
  return 0;
}

// ---------------------------------------------------------------------------
// Work.

// A private scratch folder, so that runs side by side never share the
// conversion's scratch files.
std::string gScratch;

void MakeScratchFolder() {
  std::string tmpl = std::string(TempFolder()) + "tessary-cli-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (mkdtemp(buf.data())) gScratch = std::string(buf.data()) + "/";
  memset(gPrefs->scratchFolder, 0, sizeof gPrefs->scratchFolder);
  CopyName(gPrefs->scratchFolder, gScratch.empty() ? TempFolder() : gScratch.c_str());
}

void RemoveScratchFolder() {
  if (gScratch.empty()) return;
  DeleteScratchStores();
  DeleteStaleScratchFiles(gScratch.c_str());
  FileDelete((gScratch + "clptmp").c_str());
  rmdir(gScratch.c_str());
}

const char* StatusText(int status) {
  switch (status) {
    case kItemSaved: return "saved";
    case kItemSkipped: return "skipped: the art file exists (use --replace)";
    case kItemOpenFailed: return "not converted: the image could not be opened or read";
    case kItemNoArt: return "not saved: no paths found";
    case kItemSaveFailed: return "not saved: the art could not be written";
    // The abort flag is also how a failed write or a conversion out of
    // memory ends the work; only Ctrl+C or a signal is a stop.
    case kItemStopped: return gInterrupted ? "stopped" : "failed";
    case kItemOutputIsInput: return "not converted: its art file would replace an input file";
    default: return "not converted: the output name is too long";
  }
}

// A path as the user typed it: inputs without a folder are listed as "./".
const char* Shown(const char* path) { return strncmp(path, "./", 2) == 0 ? path + 2 : path; }

void ItemDone(const BatchItemReport& r) {
  if (r.status == kItemSaved) {
    TakeHeld(false);
    Note("%s -> %s\n", Shown(r.source), Shown(r.output));
  } else if (r.status == kItemIncomplete) {
    ++gIncomplete;
    TakeHeld(false, true);
    Incomplete(Shown(r.source), Shown(r.output), r.droppedPaths);
  } else {
    ++gFailures;
    FileFailed(Shown(r.source), StatusText(r.status));
  }
}

// Why an input cannot be read, or nullptr for a regular file.
const char* InputProblem(const char* path) {
  switch (FileKindOf(path)) {
    case kFileMissing: return "not converted: no such file";
    case kFileFolder: return "not converted: it is a folder, not an image file";
    case kFileSpecial: return "not converted: it is not a regular file (a pipe or device)";
    default: return nullptr;
  }
}

// Refuses an output that would replace a folder, pipe or device, or one of
// the inputs. False after one line on standard error.
bool OutputAllowed(const std::string& output, const std::vector<std::string>& inputs) {
  int kind = FileKindOf(output.c_str());
  if (kind == kFileFolder || kind == kFileSpecial) {
    FileFailed(output.c_str(), kind == kFileFolder ? "not written: it is a folder"
                                               : "not written: it is a pipe or device, not a regular file");
    return false;
  }
  for (const std::string& input : inputs) {
    if (!input.empty() && SameFile(output.c_str(), input.c_str())) {
      fprintf(stderr, "tessary-cli: %s\n", FormatString(kStrOutputIsInput, output.c_str()).c_str());
      return false;
    }
  }
  return true;
}

// The item that no worker reached before a stop.
void NotRun(const char* source) {
  FileFailed(Shown(source), "not converted: the run was stopped");
  ++gFailures;
}

// In the parent: a line a worker told, and the count of an item's status.
void WorkerLine(const char* line) { Say(std::string(line) + "\n"); }
void WorkerCounted(int status) {
  if (status == kItemIncomplete) ++gIncomplete;
  else if (status != kItemSaved) ++gFailures;
}
// In a worker: what is left held after its last item.
void EndWorker() {
  TakeHeld(false);
  RemoveScratchFolder();
}

int gSelectCalls = 0;
int CliSelect() {
  // The list is built from the command line; after a stop or a Cancel the
  // entries left are reported and the run ends.
  if (gSelectCalls++ == 0) return BatchDuplicateCheck();
  for (int i = 0; i < BatchCount(); ++i) {
    const BatchEntry* e = BatchEntryAt(i);
    std::string path = std::string(e->folder) + e->name;
    FileFailed(Shown(path.c_str()), "not converted: the run was stopped");
    ++gFailures;
  }
  return 0;
}
int CliDestination() { return 1; }
void CliToolbox(bool) {}

// Writes the open pixel image to `path` through the pixel image writers.
bool SaveImage(const std::string& path) {
  std::string ext = Extension(path);
  int16_t kind = ext == ".rvd" ? 1 : ext == ".tif" || ext == ".tiff" ? 3 : -1;
  if (kind < 0) {
    FileFailed(path.c_str(), "not written: the image is written as .rvd or .tif");
    return false;
  }
  // Names live in name buffers: a longer one is refused like a file that
  // cannot be written.
  Status written = path.size() < kNameBufferSize ? WritePixelImage(path.c_str(), kind) : Failed();
  ShowStatus(written);
  if (!written.ok()) FileFailed(path.c_str(), "not written: the image could not be written");
  return written.ok();
}

// One input file to one output file (or only the image with --save-image).
int ConvertFile(const Options& o, const std::string& input, const std::string& output) {
  if (const char* problem = InputProblem(input.c_str())) {
    FileFailed(input.c_str(), problem);
    return 1;
  }
  // No output may replace the image or the settings file read.
  for (const std::string* out : {&output, &o.saveImage})
    if (!out->empty() && !OutputAllowed(*out, {input, o.settingsFile})) return 1;
  if (!CopyName(gImage->path, input.c_str()) || (!output.empty() && !CopyName(gImage->docName, output.c_str()))) {
    fprintf(stderr, "tessary-cli: the file name is longer than %d characters\n", kNameBufferSize - 1);
    return 1;
  }
  if (output.empty()) CopyName(gImage->docName, input.c_str());
  gImage->sourceType = static_cast<int16_t>(SourceTypeFromName(input.c_str()));
  gHolding = true;
  if (!OpenDocument(nullptr).ok()) {
    FileFailed(o.inputs[0].c_str(), StatusText(kItemOpenFailed));
    gHolding = false;
    return 1;
  }
  bool ok = true;
  if (!o.saveImage.empty()) ok = SaveImage(o.saveImage);
  if (ok && !output.empty()) {
    Status converted = ConvertImage(false);
    ShowStatus(converted);
    int status;
    if (converted.kind == kStatusStopped) {
      status = kItemStopped;
    } else if (gPathCount == 0) {
      status = kItemNoArt;
    } else {
      // No partial art file is left behind; an art file that was there
      // stays as it was.
      Status saved = SaveArt(gImage->docName, 0);
      ShowStatus(saved);
      status = saved.ok() ? kItemSaved : saved.kind == kStatusStopped ? kItemStopped : kItemSaveFailed;
    }
    ok = status == kItemSaved;
    if (ok && gDocument->droppedPathCount > 0) {
      ++gIncomplete;
      TakeHeld(false, true);
      Incomplete(o.inputs[0].c_str(), o.output.c_str(), gDocument->droppedPathCount);
    } else if (ok) {
      TakeHeld(false);
      Note("%s -> %s\n", o.inputs[0].c_str(), o.output.c_str());
    } else {
      FileFailed(o.inputs[0].c_str(), StatusText(status));
    }
  }
  TakeHeld(false);
  gHolding = false;
  CloseDocument();
  return !ok ? 1 : gIncomplete ? 3 : 0;
}

// One input to one named output (or only the image with --save-image).
int ConvertOne(const Options& o) {
  // Standard input and output stand in for files of the scratch folder.
  const bool fromStdin = o.inputs[0] == "-", toStdout = o.output == "-";
  const std::string input = fromStdin ? gScratch + "standard-input" : o.inputs[0];
  const std::string output = toStdout ? gScratch + "standard-output" : o.output;
  if (fromStdin && (gScratch.empty() || !SpoolStandardInput(input))) {
    FileDelete(input.c_str());
    FileFailed("-", "not converted: nothing could be read from standard input");
    return 1;
  }
  int result = ConvertFile(o, input, output);
  if (toStdout && result != 1 && !CopyToStandardOutput(output)) {
    FileFailed("-", "not written: standard output is closed or full");
    result = 1;
  }
  if (fromStdin) FileDelete(input.c_str());
  if (toStdout) FileDelete(output.c_str());
  return result;
}

int ConvertBatch(const Options& o) {
  gPrefs->flags0 = static_cast<uint8_t>(o.outputDir.empty() ? gPrefs->flags0 | PrefFlag::batchToSourceFolder
                                                           : gPrefs->flags0 & ~PrefFlag::batchToSourceFolder);
  gPrefs->flags1 = static_cast<uint8_t>(o.replace ? gPrefs->flags1 | PrefFlag::batchReplaceFiles
                                                  : gPrefs->flags1 & ~PrefFlag::batchReplaceFiles);
  if (!o.outputDir.empty()) {
    std::string dir = o.outputDir;
    if (dir.back() != '/') dir += '/';
    if (dir.size() >= sizeof gDocument->batchDestFolder) return BadUsage("the output folder name is too long");
    if (!FolderWritable(dir.c_str())) return BadUsage("cannot write into the folder '%s'", o.outputDir.c_str());
    strcpy(gDocument->batchDestFolder, dir.c_str());
  }
  for (const std::string& input : o.inputs) {
    if (const char* problem = InputProblem(input.c_str())) {
      FileFailed(input.c_str(), problem);
      ++gFailures;
      continue;
    }
    size_t slash = input.rfind('/');
    std::string folder = slash == std::string::npos ? "./" : input.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    if (AddBatchEntry(folder.c_str(), name.c_str()).ok()) continue;
    bool listed = false;  // the same file named twice is converted once
    for (int i = 0; i < BatchCount(); ++i)
      listed = listed || (!strcmp(BatchEntryAt(i)->name, name.c_str()) &&
                          !strcmp(BatchEntryAt(i)->folder, folder.c_str()));
    if (!listed) {
      FileFailed(input.c_str(), "not converted: the name is too long");
      ++gFailures;
    }
  }
  gBatchHooks = BatchHooks{CliSelect, CliDestination, CliToolbox, ItemDone, nullptr};
  if (o.jobs > 1 && BatchCount() > 1) {
    if (!BatchDuplicateCheck()) {
      ClearBatchList();
      return 1;
    }
    // Workers hold a file's warnings for its line, as one process does.
    gHolding = true;
    WorkerCallbacks callbacks{MakeScratchFolder, EndWorker, CliShowMessage, ItemDone,
                              WorkerLine,        WorkerCounted, NotRun, DrawBar};
    bool ran = RunBatchInWorkers(o.jobs, callbacks);
    gHolding = false;
    if (ran) return gFailures ? 1 : gIncomplete ? 3 : 0;
  }
  gHolding = true;
  RunBatch();
  gHolding = false;
  TakeHeld(false);
  ClearBatchList();
  return gFailures ? 1 : gIncomplete ? 3 : 0;
}

int Run(int argc, char** argv) {
  Options o;
  StartRecords();
  DefaultPrefsRecord(gPrefs);
  InstallBackend(PlatformBackend{CliShowMessage, CliBeep, CliProgress, CliPump});
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnInterrupt;
  // Ctrl+C is the Stop button; a terminal hang-up or a termination request
  // stops the same way, so the scratch folder is always cleaned up.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    auto take = [&](std::string* into) {
      if (!next) return false;
      *into = next;
      ++i;
      return true;
    };
    if (a == "-h" || a == "--help") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (a == "-o" || a == "--output") {
      if (!take(&o.output)) return BadUsage("%s needs a file name", a.c_str());
    } else if (a == "-d" || a == "--output-dir") {
      if (!take(&o.outputDir)) return BadUsage("%s needs a folder", a.c_str());
    } else if (a == "-f" || a == "--format") {
      if (!take(&o.format)) return BadUsage("%s needs a format", a.c_str());
    } else if (a == "--save-image") {
      if (!take(&o.saveImage)) return BadUsage("%s needs a file name", a.c_str());
    } else if (a == "--settings") {
      if (!take(&o.settingsFile)) return BadUsage("%s needs a file name", a.c_str());
    } else if (a == "--preset") {
      if (!take(&o.preset)) return BadUsage("%s needs a name", a.c_str());
    } else if (a == "-j" || a == "--jobs") {
      std::string n;
      int32_t jobs;
      if (!take(&n) || !ParseScaledDecimal(n.c_str(), '.', 1, &jobs) || jobs < 1 || jobs > 64)
        return BadUsage("%s takes a number of worker processes from 1 to 64", a.c_str());
      o.jobs = jobs;
    } else if (a == "--resolution") {
      std::string n;
      int32_t dpi;
      if (!take(&n) || !ParseScaledDecimal(n.c_str(), '.', 100, &dpi) || dpi < kMinFileDpi * 100 ||
          dpi > kMaxFileDpi * 100)
        return BadUsage("%s takes pixels per inch from 24 to 4000", a.c_str());
      o.resolution = dpi / 100.0;
    } else if (a == "--custom-colors") {
      if (!take(&o.customColors)) return BadUsage("%s needs a file name", a.c_str());
    } else if (a == "-r" || a == "--replace") {
      o.replace = true;
    } else if (a == "-q" || a == "--quiet") {
      o.quiet = true;
    } else if (a == "--downsample") {
      o.downsample = true;
    } else if (a == "--") {
      for (++i; i < argc; ++i) o.inputs.push_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-') {
      // Conversion options are taken in a second pass, over the preset.
      if (TakesValue(a) && next) ++i;
    } else {
      o.inputs.push_back(a);
    }
  }

  // Settings: the preset first, then the conversion options over it.
  if (!o.preset.empty() && o.settingsFile.empty()) return BadUsage("--preset needs --settings FILE");
  if (!o.settingsFile.empty()) {
    int r = LoadPresetSettings(o);
    if (r) return r;
  }
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") break;
    if (a == "-o" || a == "--output" || a == "-d" || a == "--output-dir" || a == "-f" || a == "--format" ||
        a == "--save-image" || a == "--settings" || a == "--preset" || a == "-j" || a == "--jobs" ||
        a == "--resolution" || a == "--custom-colors") {
      ++i;
      continue;
    }
    if (a.size() < 2 || a[0] != '-' || a == "-r" || a == "--replace" || a == "-q" || a == "--quiet" ||
        a == "--downsample")
      continue;
    bool used = false;
    int r = ConversionOption(a, i + 1 < argc ? argv[i + 1] : nullptr, &used);
    if (r == 0) return BadUsage("unknown option '%s'", a.c_str());
    if (r == 2) return 2;
    if (used) ++i;
  }
  *gConvSettingsEdit = *gConvSettings;
  if (!(gConvSettings->methodFlags & (Method::outline | Method::centerline | Method::lineRecognition)))
    return BadUsage("no conversion method chosen");
  if (int r = ColorOptionsUsable(o)) return r;

  if (o.inputs.empty()) return BadUsage("no input file");
  // Standard input is one image; its art goes to standard output unless
  // -o (or --save-image alone) says otherwise.
  for (const std::string& input : o.inputs)
    if (input == "-" && o.inputs.size() > 1) return BadUsage("- (standard input) must be the only INPUT");
  if (o.inputs[0] == "-" && o.output.empty() && o.saveImage.empty()) o.output = "-";
  bool single = !o.output.empty() || !o.saveImage.empty();
  if (single && o.inputs.size() > 1) return BadUsage("-o and --save-image take a single INPUT");
  if (!o.output.empty() && !o.outputDir.empty()) return BadUsage("-o and --output-dir exclude each other");
  if (!o.output.empty() && !o.saveImage.empty() &&
      (o.output == o.saveImage || SameFile(o.output.c_str(), o.saveImage.c_str())))
    return BadUsage("-o and --save-image name the same file");

  // The format: by name, else by the extension of -o.
  std::string format = o.format;
  if (!o.output.empty() && o.output != "-") {
    std::string ext = Extension(o.output);
    std::string byExt;
    for (const char* known : {"qv", "eps", "dxf", "svg", "pdf", "emf"})
      if (ext == std::string(".") + known) byExt = known;
    if (byExt.empty())
      return BadUsage("cannot tell the art format from '%s' (.qv .eps .dxf .svg .pdf .emf)", o.output.c_str());
    bool fits = format.empty() || format == byExt || (byExt == "eps" && format.rfind("eps", 0) == 0);
    if (!fits) return BadUsage("--format %s does not match the output file's extension", format.c_str());
    if (format.empty()) format = byExt;
  }
  if (format.empty()) format = "eps";
  if (!FormatCodes(format, &gPrefs->outputFormat, &gPrefs->previewKind))
    return BadUsage("unknown format '%s' (qv, eps, eps-bw, eps-color, dxf, svg, pdf, emf)", format.c_str());
  // Enhanced metafiles are written by a writer that plugs into the art
  // writer; without one the format is refused here rather than failing at
  // save time with a misleading disk message.
  if (gPrefs->outputFormat == kFormatMetafile && !gMetafileWriter.create)
    return BadUsage("enhanced metafile output is not available in this build");
  gDocument->Put(Flag::downsample2to1, o.downsample);
  gDocument->givenResolution = o.resolution;
  gShellHooks.imageOpened = ApplyCommandLineLevels;

  gQuiet = o.quiet;
  gProgressBar = !o.quiet && isatty(STDERR_FILENO);
  MakeScratchFolder();
  *gPrefsEdit = *gPrefs;

  int result = single ? ConvertOne(o) : ConvertBatch(o);
  RemoveScratchFolder();
  return result;
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
