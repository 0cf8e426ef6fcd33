// The custom color list, its file format, the screen color of a process color,
// the best-custom-color vote and the automatic colors of a conversion.
#include "engine/custom_colors.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "art/pathstore.h"
#include "core/records.h"
#include "core/services.h"
#include "engine/conversion.h"
#include "engine/settings.h"
#include "platform/platform.h"
#include "platform/string_ids.h"

namespace {

// The entries live in one movable block grown and shrunk one entry at a time.
// The document record's `customColorList` points at the locked block; when
// the records are reset (it reads null again) the block is taken up anew with
// the count that the preferences then hold.
MemHandle gListHandle = kNoMem;
int16_t gOrder[kMaxCustomColors];

// Automatic colors: the numbering and the first index added during the
// running conversion.
int gAutoCounter = 1;
int gAutoFirst = 0;

CustomColorEntry* Entries() {
  if (gListHandle == kNoMem) return nullptr;
  auto* list = static_cast<CustomColorEntry*>(MemLock(gListHandle));
  gDocument->customColorList = list;
  return list;
}

int Count() {
  int n = gPrefs->customColorCount;
  if (n < 0 || gListHandle == kNoMem) return 0;
  size_t held = MemSize(gListHandle) / sizeof(CustomColorEntry);
  return n > static_cast<int>(held) ? static_cast<int>(held) : n;
}

void SetCount(int n) { gPrefs->customColorCount = static_cast<int16_t>(n); }

bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

void CopyColorName(char* dst, const char* src) {
  size_t n = strlen(src);
  if (n > static_cast<size_t>(kColorNameMax)) n = kColorNameMax;
  memcpy(dst, src, n);
  dst[n] = 0;
}

int Lower(int c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

int CompareNames(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int ca = Lower(static_cast<unsigned char>(*a));
    int cb = Lower(static_cast<unsigned char>(*b));
    if (ca != cb) return ca - cb;
    if (!ca) return 0;
  }
}

// Replaces the same-named entry's color in `list` or appends the entry.
// False when the list is full.
bool TakeInto(CustomColorEntry* list, int* count, const CustomColorEntry& e) {
  for (int i = 0; i < *count; ++i) {
    if (strcmp(list[i].name, e.name) == 0) {
      memcpy(list[i].color, e.color, 4);
      return true;
    }
  }
  if (*count >= kMaxCustomColors) return false;
  list[*count] = e;
  ++*count;
  return true;
}

const char* const kBuiltInColors[] = {
    "1 0 0.55 0 (Aqua)",          "0 0 0 1 (Black)",           "1 0.50 0 0 (Blue)",
    "0.50 0.40 0.30 0 (Blue Gray)", "0.80 0.05 0 0 (Blue Sky)", "0.50 0.85 1 0 (Brown)",
    "1 0.90 0.10 0 (Dark Blue)",  "1 0.55 1 0 (Forest Green)", "0.05 0.20 0.95 0 (Gold)",
    "0.75 0.05 1 0 (Grass Green)", "0.40 0.40 0.40 0 (Gray)",  "1 0.20 1 0 (Green)",
    "0.45 0 1 0 (Lime Green)",    "0 0.45 1 0 (Orange)",       "0 0.70 1 0 (Orange Red)",
    "0 0.25 1 0 (Orange Yellow)", "0 0.45 0.60 0 (Peach)",     "0 0.50 0.05 0 (Pink)",
    "0.85 1 0 0 (Purple)",        "0.15 1 1 0 (Red)",          "0.40 0.70 1 0 (Rusty Brown)",
    "0 0.90 1 0 (Saturn Red)",    "1 0.40 0.15 0 (Turquoise)", "0.45 0.90 0 0 (Violet)",
    "0.75 0.90 0 0 (Violet Blue)", "0.25 1 0.25 0 (Violet Red)", "0 0 0 0 (White)",
    "0 0 1 0 (Yellow)",           "0.20 0 1 0 (Yellow Green)",
};

}  // namespace

// ---------------------------------------------------------------------------
// The list.

CustomColorEntry* CustomColorList() { return Count() ? Entries() : nullptr; }

CustomColorEntry* CustomColorAt(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  return Entries() + index;
}

int CustomColorCount() { return Count(); }

int TaggedCustomColorCount() {
  int n = Count(), tagged = 0;
  CustomColorEntry* list = Entries();
  for (int i = 0; i < n; ++i) tagged += list[i].tagged ? 1 : 0;
  return tagged;
}

Status AddCustomColor(CustomColorEntry** added) {
  *added = nullptr;
  int n = Count();
  if (n >= kMaxCustomColors) return Failed(kStrCustomColorLimit);
  size_t bytes = static_cast<size_t>(n + 1) * sizeof(CustomColorEntry);
  bool ok;
  if (gListHandle == kNoMem) {
    gListHandle = MemAlloc(bytes);
    ok = gListHandle != kNoMem;
  } else {
    ok = MemResize(gListHandle, bytes);
  }
  if (!ok) return Failed(kStrNotEnoughMemory);
  CustomColorEntry* e = Entries() + n;
  memset(e, 0, sizeof *e);
  SetCount(n + 1);
  *added = e;
  return Done();
}

void DeleteCustomColor(int index) {
  int n = Count();
  if (index < 0 || index >= n) return;
  CustomColorEntry* list = Entries();
  memmove(list + index, list + index + 1, static_cast<size_t>(n - index - 1) * sizeof *list);
  SetCount(n - 1);
  if (n - 1 == 0) {
    ClearCustomColors();
    return;
  }
  MemResize(gListHandle, static_cast<size_t>(n - 1) * sizeof *list);  // shrinking cannot fail
  Entries();
}

int FindCustomColor(const char* name) {
  int n = Count();
  CustomColorEntry* list = Entries();
  for (int i = 0; i < n; ++i)
    if (strcmp(list[i].name, name) == 0) return i;
  return -1;
}

void ClearCustomColors() {
  MemFree(gListHandle);
  gListHandle = kNoMem;
  gDocument->customColorList = nullptr;
  SetCount(0);
}

bool SetCustomColors(const CustomColorEntry* entries, int count) {
  ClearCustomColors();
  if (count <= 0) return true;
  if (count > kMaxCustomColors) count = kMaxCustomColors;
  gListHandle = MemAlloc(static_cast<size_t>(count) * sizeof(CustomColorEntry));
  if (gListHandle == kNoMem) return false;
  memcpy(Entries(), entries, static_cast<size_t>(count) * sizeof(CustomColorEntry));
  SetCount(count);
  return true;
}

int16_t* SortCustomColors() {
  int n = Count();
  CustomColorEntry* list = Entries();
  // Insertion: a new index goes after every name that is not greater, so
  // equal names keep their list order.
  for (int i = 0; i < n; ++i) {
    int j = i;
    while (j > 0 && CompareNames(list[gOrder[j - 1]].name, list[i].name) > 0) {
      gOrder[j] = gOrder[j - 1];
      --j;
    }
    gOrder[j] = static_cast<int16_t>(i);
  }
  gDocument->customColorOrder = gOrder;
  return gOrder;
}

// ---------------------------------------------------------------------------
// Color lines and files.

uint8_t ParseColorFraction(const char* text, const char** end) {
  const char* p = text;
  // A sign belongs to the number: a negative fraction is clamped to 0 like
  // any fraction out of range, and the numbers after it are still read.
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  double value = 0;
  bool digits = false;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + (*p++ - '0');
    digits = true;
  }
  if (*p == '.') {
    ++p;
    double scale = 0.1;
    while (*p >= '0' && *p <= '9') {
      value += (*p++ - '0') * scale;
      scale /= 10;
      digits = true;
    }
  }
  if (!digits) {
    *end = text;
    return 0;
  }
  *end = p;
  if (negative) value = -value;
  double b = value * 255 + 0.5;
  if (b < 0) b = 0;
  if (b > 255) b = 255;
  return static_cast<uint8_t>(b);
}

void ParseColorLine(const char* text, CustomColorEntry* entry) {
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && *p == ' ') ++p;
    entry->color[i] = ParseColorFraction(p, &p);
  }
  // The name starts after " (" behind the fourth number. Lines that lack some
  // numbers still find their name after the first "(".
  const char* name;
  if (p[0] == ' ' && p[1] == '(') {
    name = p + 2;
  } else if (const char* paren = strchr(p, '(')) {
    name = paren + 1;
  } else {
    name = p;
  }
  char decoded[256];
  int n = 0;
  for (const char* q = name; *q && *q != ')' && n < 255; ++q) {
    if (q[0] == '\\' && q[1] >= '0' && q[1] <= '7' && q[2] >= '0' && q[2] <= '7' && q[3] >= '0' &&
        q[3] <= '7') {
      decoded[n++] = static_cast<char>(((q[1] - '0') << 6) | ((q[2] - '0') << 3) | (q[3] - '0'));
      q += 3;
    } else {
      decoded[n++] = *q;
    }
  }
  decoded[n] = 0;
  memset(entry->name, 0, sizeof entry->name);
  CopyColorName(entry->name, decoded);
}

Status TakeColorLine(const char* text) {
  CustomColorEntry e{};
  ParseColorLine(text, &e);
  int found = FindCustomColor(e.name);
  if (found >= 0) {
    memcpy(Entries()[found].color, e.color, 4);
    return Done();
  }
  CustomColorEntry* added;
  Status status = AddCustomColor(&added);
  if (added) *added = e;
  return status;
}

Status ReadColorFile(int16_t file, CustomColorEntry* source, int* sourceCount) {
  static const char kFirst[] = "%%CMYKCustomColor:";
  char line[256];
  bool inBlock = false;
  InReset();
  for (;;) {
    int16_t len = InLine(line, 254, file);
    if (len < 0 || StartsWith(line, "%%EndComments")) break;
    const char* text;
    if (!inBlock) {
      if (!StartsWith(line, kFirst)) continue;
      inBlock = true;
      text = len > 19 ? line + 19 : "";
    } else if (StartsWith(line, "%%+ ")) {
      text = line + 4;
    } else {
      break;
    }
    if (source) {
      CustomColorEntry e{};
      ParseColorLine(text, &e);
      if (!TakeInto(source, sourceCount, e)) break;
    } else if (Status taken = TakeColorLine(text); !taken.ok()) {
      return taken;
    }
  }
  return Done();
}

Status AddBuiltInColors() {
  for (const char* line : kBuiltInColors)
    if (Status taken = TakeColorLine(line); !taken.ok()) return taken;
  return Done();
}

Status LoadDefaultCustomColors() {
  ClearCustomColors();
  char path[kNameBufferSize];
  if (!CopyName(path, ModuleFolder()) || !AppendName(path, "Default Custom Colors")) path[0] = 0;
  int16_t file = path[0] ? FileOpen(path, kFileRead) : kNoFile;
  if (file != kNoFile) {
    Status read = ReadColorFile(file, nullptr, nullptr);
    FileClose(file);
    return read;
  }
  std::string text = FormatString(kStrCantLocateColorFile, path);
  if (AskQuestion(kStrCantLocateColorFile, text.c_str()) != kAnswerYes) return Cancelled();
  return AddBuiltInColors();
}

void FormatColorFraction(uint8_t component, char* text) {
  int q = (component * 100 + 127) / 255;
  if (q == 0) {
    strcpy(text, "0 ");
  } else if (q >= 100) {
    strcpy(text, "1 ");
  } else if (q % 10 != 0) {
    text[0] = '0';
    text[1] = '.';
    text[2] = static_cast<char>('0' + q / 10);
    text[3] = static_cast<char>('0' + q % 10);
    text[4] = ' ';
    text[5] = 0;
  } else {
    text[0] = '0';
    text[1] = '.';
    text[2] = static_cast<char>('0' + q / 10);
    text[3] = ' ';
    text[4] = 0;
  }
}

Status ExportCustomColors(const char* path, bool taggedOnly) {
  std::string out;
  auto line = [&out](const char* text) {
    out += text;
    out += "\r\n";
  };
  line("%!PS-Quenda-3.0");
  line("%%BoundingBox: 0 0 0 0");
  line("%QV3_ColorUsage: Color");
  int n = Count();
  CustomColorEntry* list = Entries();
  bool first = true;
  for (int i = 0; i < n; ++i) {
    if (taggedOnly && !list[i].tagged) continue;
    std::string text = first ? "%%CMYKCustomColor: " : "%%+ ";
    first = false;
    char fraction[8];
    for (int c = 0; c < 4; ++c) {
      FormatColorFraction(list[i].color[c], fraction);
      text += fraction;
    }
    text += "(";
    text += list[i].name;
    text += ")";
    line(text.c_str());
  }
  static const char* const kTail[] = {
      "%%EndComments", "%%BeginProlog", "%%IncludeResource: procset Quenda_packedarray 2.0 0",
      "%%IncludeResource: procset Quenda_cmykcolor 1.1 0", "%%IncludeResource: procset Quenda_cshow 1.1 0",
      "%%IncludeResource: procset Quenda_customcolor 1.0 0",
      "%%IncludeResource: procset Quenda_VexmoorA_QV3 1.0 0", "%%EndProlog", "%%BeginSetup", "%%EndSetup",
      "1 g", "0 0 m", "100 100 l", "f", "%%PageTrailer", "gsave annotatepage grestore showpage", "%%Trailer",
      "Quenda_Vexmoor_QV3 /terminate get exec", "Quenda_pattern_QV3 /terminate get exec",
      "Quenda_customcolor /terminate get exec", "Quenda_cshow /terminate get exec",
      "Quenda_cmykcolor /terminate get exec", "Quenda_packedarray /terminate get exec", "%%EOF"};
  for (const char* t : kTail) line(t);

  // Written as a replacement: a short write (full disk) is reported like a
  // file that cannot be made, and the file being replaced stays as it was.
  int16_t file = FileCreateReplacing(path);
  if (file == kNoFile) return Failed(kStrCantExportColors);
  int32_t written = FileWrite(file, out.data(), static_cast<int32_t>(out.size()));
  if (written != static_cast<int32_t>(out.size())) {
    FileDiscard(file);
    return Failed(kStrCantExportColors);
  }
  if (FileCommit(file) != 0) return Failed(kStrCantExportColors);
  return Done();
}

Status ReadImportFile(const char* path, CustomColorEntry* source, int* sourceCount) {
  int16_t file = FileOpen(path, kFileRead);
  if (file == kNoFile) return Failed(kStrCantOpenColorFile);
  Status read = ReadColorFile(file, source, sourceCount);
  FileClose(file);
  return read;
}

Status ImportCustomColors(const CustomColorEntry* colors, int count, bool tag) {
  for (int i = 0; i < count; ++i) {
    CustomColorEntry e = colors[i];
    if (tag) e.tagged = 1;
    int found;
    while ((found = FindCustomColor(e.name)) >= 0 && strlen(e.name) < 30) strcat(e.name, "~");
    if (found >= 0) {
      CustomColorEntry* old = Entries() + found;
      old->tagged = e.tagged;
      memcpy(old->color, e.color, 4);
      continue;
    }
    CustomColorEntry* added;
    if (Status status = AddCustomColor(&added); !status.ok()) return status;
    *added = e;
  }
  return Done();
}

Status NewCustomColor(bool tagged, int* index) {
  *index = -1;
  char name[64];
  for (int n = 1;; ++n) {
    snprintf(name, sizeof name, "%s %d", LoadString(kStrNewColor), n);
    if (FindCustomColor(name) < 0) break;
  }
  CustomColorEntry* e;
  if (Status status = AddCustomColor(&e); !status.ok()) return status;
  CopyColorName(e->name, name);
  e->tagged = tagged ? 1 : 0;
  *index = Count() - 1;
  return Done();
}

// ---------------------------------------------------------------------------
// Custom Color dialog.

Status CheckColorName(int index, const char* name) {
  if (!name[0]) return Failed(kStrEnterName);
  int found = FindCustomColor(name);
  if (found >= 0 && found != index) return Failed(kStrNameInUse);
  return Done();
}

Status RenameCustomColor(int index, const char* name) {
  CustomColorEntry* e = CustomColorAt(index);
  if (!e) return Failed();
  if (Status checked = CheckColorName(index, name); !checked.ok()) return checked;
  memset(e->name, 0, sizeof e->name);
  CopyColorName(e->name, name);
  return Done();
}

Status SetSwatchColor(int index, const uint8_t cmyk[4]) {
  CustomColorEntry* e = CustomColorAt(index);
  if (!e) return Failed();
  if (!StartsWith(e->name, LoadString(kStrNewColor)) && AskQuestion(kStrReplaceColorValues) != kAnswerYes)
    return Cancelled();
  memcpy(e->color, cmyk, 4);
  return Done();
}

void SetTintColor(int index, int percent) {
  CustomColorEntry* e = CustomColorAt(index);
  if (!e) return;
  e->color[0] = e->color[1] = e->color[2] = 0;
  e->color[3] = static_cast<uint8_t>(PercentToByte(percent < 0 ? 0 : percent > 100 ? 100 : percent));
}

bool CustomColorInUse(int index) {
  for (int16_t i = 0; i < gPathCount; ++i) {
    const PathRecord& r = gPaths[i];
    if ((r.fillKind == kPaintCustom && r.fillCustom == index) ||
        (r.strokeKind == kPaintCustom && r.strokeCustom == index))
      return true;
  }
  return false;
}

void FormatColorCounts(char* text, int size) {
  int tagged = TaggedCustomColorCount(), total = Count();
  std::string line = FormatString(tagged == 1 ? kStrColorTag : kStrColorTags, tagged);
  line += FormatString(total == 1 ? kStrColorTotal : kStrColorTotals, total);
  snprintf(text, static_cast<size_t>(size), "%s", line.c_str());
}

// ---------------------------------------------------------------------------
// Screen color.

uint32_t ProcessRgb(const uint8_t cmyk[4]) {
  int w = 255 - cmyk[3];
  int r = (255 - cmyk[0]) * w / 255;
  int g = (255 - cmyk[1]) * w / 255;
  int b = (255 - cmyk[2]) * w / 255;
  return static_cast<uint32_t>(r << 16 | g << 8 | b);
}

uint32_t DisplayColor(const uint8_t cmyk[4]) {
  uint32_t plain = ProcessRgb(cmyk);
  int r = static_cast<int>(plain >> 16), g = static_cast<int>(plain >> 8 & 0xFF), b = static_cast<int>(plain & 0xFF);
  if (g <= r) {
    if (b > r) {
      b = (b + r) / 2;
    } else if (b <= g) {
      int mix = ((r > b ? r : b) + g) / 2;
      int less = g - g / 8;
      g = less > mix ? less : mix;
    } else {
      b = (b + g) / 2;
    }
  }
  return static_cast<uint32_t>(r << 16 | g << 8 | b);
}

void RgbToCmyk(int r, int g, int b, uint8_t cmyk[4]) {
  int c = 255 - r, m = 255 - g, y = 255 - b;
  const int m0 = m, y0 = y;
  if (m >= c) {
    if (y < c) {
      y = 2 * y - c;
    } else if (y >= m) {
      int a = m - (255 - m) / 8, d = 2 * m - (c < y ? c : y);
      m = a > d ? a : d;
      if (m < 0) m = 0;
    } else {
      y = 2 * y - m;
    }
  }
  if (y < 1) {
    // A strong red or magenta keeps its yellow at 0 and gives up a little cyan
    // and magenta instead.
    int d = (160 - y0) / 4;
    if (d >= 1 && c >= 251 && m0 >= 251) {
      c -= d;
      m -= d;
    }
    y = 0;
  }
  int k = c < m ? c : m;
  if (y < k) k = y;
  if (k >= 255) {
    cmyk[0] = cmyk[1] = cmyk[2] = 0;
    cmyk[3] = 255;
    return;
  }
  cmyk[0] = static_cast<uint8_t>(255 - (255 - c) * 255 / (255 - k));
  cmyk[1] = static_cast<uint8_t>(255 - (255 - m) * 255 / (255 - k));
  cmyk[2] = static_cast<uint8_t>(255 - (255 - y) * 255 / (255 - k));
  cmyk[3] = static_cast<uint8_t>(k);
}

uint32_t RgbToProcess(int r, int g, int b) {
  uint8_t c[4];
  RgbToCmyk(r, g, b, c);
  return static_cast<uint32_t>(c[0]) | static_cast<uint32_t>(c[1]) << 8 | static_cast<uint32_t>(c[2]) << 16 |
         static_cast<uint32_t>(c[3]) << 24;
}

// ---------------------------------------------------------------------------
// Best custom color.

namespace {

constexpr int kMaxCandidates = kMaxCustomColors * 10;
uint8_t gCandidate[kMaxCandidates][4];
int32_t gVotes[kMaxCandidates];
int16_t gCandidateEntry[kMaxCustomColors];  // entry index of each candidate entry
int gCandidateCount = 0;
int gSamples = 3;
bool gTints = false;
bool gHaveLast = false;
uint8_t gLastSample[4];
int gLastWinner = 0;

}  // namespace

bool BestColorBegin(int samplesPerPixel, bool tints, bool taggedOnly) {
  gSamples = samplesPerPixel >= 4 ? 4 : 3;
  gTints = tints;
  gHaveLast = false;
  gCandidateCount = 0;
  int entries = 0;
  int n = Count();
  CustomColorEntry* list = Entries();
  for (int i = 0; i < n; ++i) {
    if (taggedOnly && !list[i].tagged) continue;
    gCandidateEntry[entries++] = static_cast<int16_t>(i);
    uint8_t base[4];
    if (gSamples == 4) {
      memcpy(base, list[i].color, 4);
    } else {
      uint32_t rgb = DisplayColor(list[i].color);
      base[0] = static_cast<uint8_t>(rgb >> 16);
      base[1] = static_cast<uint8_t>(rgb >> 8);
      base[2] = static_cast<uint8_t>(rgb);
      base[3] = 0;
    }
    for (int t = 0; t < (tints ? 10 : 1); ++t) {
      int p = tints ? 10 * (t + 1) : 100;
      uint8_t* c = gCandidate[gCandidateCount];
      for (int k = 0; k < 4; ++k)
        c[k] = static_cast<uint8_t>(gSamples == 4 ? base[k] * p / 100 : 255 - (255 - base[k]) * p / 100);
      gVotes[gCandidateCount++] = 0;
    }
  }
  return entries >= 2;
}

void BestColorVote(const uint8_t* samples, const uint8_t* mask, int pixelCount) {
  for (int x = 0; x < pixelCount; ++x, samples += gSamples) {
    if (mask && !mask[x]) continue;
    if (!gHaveLast || memcmp(samples, gLastSample, static_cast<size_t>(gSamples)) != 0) {
      int best = 0, bestDistance = 1 << 30;
      for (int c = 0; c < gCandidateCount; ++c) {
        int d = 0;
        for (int k = 0; k < gSamples; ++k) d += abs(samples[k] - gCandidate[c][k]);
        if (d < bestDistance) {
          bestDistance = d;
          best = c;
        }
      }
      memcpy(gLastSample, samples, static_cast<size_t>(gSamples));
      gHaveLast = true;
      gLastWinner = best;
    }
    if (gCandidateCount) ++gVotes[gLastWinner];
  }
}

CustomPaint BestColorEnd() {
  CustomPaint paint{};
  if (gCandidateCount == 0) return paint;
  int winner = 0;
  for (int c = 1; c < gCandidateCount; ++c)
    if (gVotes[c] > gVotes[winner]) winner = c;
  int entry = gTints ? winner / 10 : winner;
  int p = gTints ? 10 * (winner % 10 + 1) : 100;
  paint.index = gCandidateEntry[entry];
  paint.tint = static_cast<uint8_t>(gTints ? p * 255 / 100 : 255);
  const CustomColorEntry* e = CustomColorAt(paint.index);
  for (int k = 0; k < 4; ++k) paint.color[k] = static_cast<uint8_t>(e->color[k] * p / 100);
  return paint;
}

// ---------------------------------------------------------------------------
// Automatic colors.

void RemoveAutoColors() {
  for (int i = Count() - 1; i >= 0; --i)
    if (StartsWith(Entries()[i].name, "Auto Color")) DeleteCustomColor(i);
  gAutoCounter = 1;
  gAutoFirst = Count();
}

Status CustomColorForProcess(uint32_t color, int16_t* index) {
  *index = -1;
  uint8_t cmyk[4] = {static_cast<uint8_t>(color), static_cast<uint8_t>(color >> 8),
                     static_cast<uint8_t>(color >> 16), static_cast<uint8_t>(color >> 24)};
  int n = Count();
  if (gAutoFirst > n) gAutoFirst = n;  // the list was replaced since the conversion began
  CustomColorEntry* list = Entries();
  for (int i = gAutoFirst; i < n; ++i)
    if (memcmp(list[i].color, cmyk, 4) == 0) {
      *index = static_cast<int16_t>(i);
      return Done();
    }
  char name[32];
  snprintf(name, sizeof name, "Auto Color %d", gAutoCounter);
  CustomColorEntry* e;
  if (Status status = AddCustomColor(&e); !status.ok()) return status;
  ++gAutoCounter;
  CopyColorName(e->name, name);
  memcpy(e->color, cmyk, 4);
  *index = static_cast<int16_t>(Count() - 1);
  return Done();
}
