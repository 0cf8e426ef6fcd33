// The custom color list: up to 900 named CMYK colors that the user can tag,
// import from and export to a text file, and that a color conversion can use
// to fill its sub-areas. Also the screen color of a process color and the
// rule that picks the best custom color (or tint) for a sub-area.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/status.h"

#pragma pack(push, 1)
struct CustomColorEntry {
  char name[32];      // NUL-terminated, at most 31 characters, unique in the list
  uint8_t color[4];   // C, M, Y, K
  uint8_t tagged;     // 1 tagged
  uint8_t reserved;   // copied with the entry
};
#pragma pack(pop)
static_assert(sizeof(CustomColorEntry) == 38);
static_assert(offsetof(CustomColorEntry, color) == 32);
static_assert(offsetof(CustomColorEntry, tagged) == 36);

constexpr int kMaxCustomColors = 900;
constexpr int kColorNameMax = 31;

// ---------------------------------------------------------------------------
// The list. Its count is `customColorCount` of the preferences; the entries
// are reached through `customColorList` of the document record (nullptr while
// the list is empty).
CustomColorEntry* CustomColorList();
CustomColorEntry* CustomColorAt(int index);  // nullptr outside the list
int CustomColorCount();
int TaggedCustomColorCount();
// Appends a zeroed entry for the caller to fill (`*added`). Failed with
// message 1017 (900 entries) or 237 (memory), `*added` then nullptr.
Status AddCustomColor(CustomColorEntry** added);
void DeleteCustomColor(int index);
int FindCustomColor(const char* name);  // exact whole-name match; -1 when none
// Empties the list and releases its memory.
void ClearCustomColors();
// Replaces the list with `count` entries (the preferences reader); false when
// memory is short (the list is then empty).
bool SetCustomColors(const CustomColorEntry* entries, int count);
// Rebuilds `customColorOrder` of the document record: entry indices sorted by
// name, letters a-z compared without case, the earlier entry first on equal
// names. Returns the array (count entries).
int16_t* SortCustomColors();

// ---------------------------------------------------------------------------
// Color lines and color files.
// Parses "C M Y K (name)" into `entry` (name and color only).
void ParseColorLine(const char* text, CustomColorEntry* entry);
// Parses a color line and replaces the color of the same-named entry of the
// list, or adds it. Failed as AddCustomColor when the list cannot take it.
Status TakeColorLine(const char* text);
// Reads the color block of an open color file. With `source` null the colors
// go to the custom color list (reading stops at the first color the list
// cannot take: that failure is the result); otherwise into `source` (room
// for 900 entries, `*sourceCount` entries already held), the same way.
Status ReadColorFile(int16_t file, CustomColorEntry* source, int* sourceCount);
// Adds the 29 built-in colors.
Status AddBuiltInColors();
// Start-up without a list in the preferences: empties the list and reads
// "Default Custom Colors" from the program's folder, asking whether to use
// the built-in list when that file cannot be opened (Cancelled on No).
Status LoadDefaultCustomColors();
// Writes the list (or only its tagged entries) as a color file. Failed with
// the export message when the file cannot be created or written.
Status ExportCustomColors(const char* path, bool taggedOnly);
// Opens a color file for the Selective Color Import dialog and reads it into
// `source`. Failed with the open message.
Status ReadImportFile(const char* path, CustomColorEntry* source, int* sourceCount);
// Commits the dialog's right-hand list: tags each color when `tag` is set,
// appends "~" to a name that is taken while it is shorter than 30 characters,
// overwrites a same-named entry whose name could not grow, else adds it.
Status ImportCustomColors(const CustomColorEntry* colors, int count, bool tag);
// Adds "New Color n" with the smallest free n; tagged when `tagged`. Its
// index goes to `*index` (-1 when it could not be added).
Status NewCustomColor(bool tagged, int* index);

// Logic of the Custom Color dialog.
// Checks a name typed for entry `index`: Done when it may be used, else
// Failed with message 135 (empty) or 136 (taken by another entry).
Status CheckColorName(int index, const char* name);
// Renames entry `index` after CheckColorName, with its result.
Status RenameCustomColor(int index, const char* name);
// "Get Swatch Color": copies a process color into entry `index`, asking first
// unless the entry's name begins with "New Color" (Cancelled when declined).
Status SetSwatchColor(int index, const uint8_t cmyk[4]);
// A single-value (tint) color is stored as C = M = Y = 0 and K = the tint.
void SetTintColor(int index, int percent);
// True when a path's fill or stroke is this custom color ("Select All Unused"
// selects the others).
bool CustomColorInUse(int index);
// The counts line: "%d Tag," or "%d Tags," then " %d Total Color" or
// " %d Total Colors".
void FormatColorCounts(char* text, int size);

// A component byte as a color file and the art files write it: "0", "1",
// "0.55" or "0.5", followed by one blank. `text` needs 6 bytes.
void FormatColorFraction(uint8_t component, char* text);
// A decimal fraction text (0 to 1) as a byte; `end` receives the first
// character after the number. No digits gives 0 and leaves `end` at text.
uint8_t ParseColorFraction(const char* text, const char** end);

// ---------------------------------------------------------------------------
// The sRGB color (0x00RRGGBB) of a C, M, Y, K color: each of R, G and B is
// the white left by its ink and by black, (255 - C) x (255 - K) / 255 for R.
// The SVG writer paints with it.
uint32_t ProcessRgb(const uint8_t cmyk[4]);
// The screen color (0x00RRGGBB) of a C, M, Y, K color: ProcessRgb with the
// program's own lift of green and blue where red leads.
uint32_t DisplayColor(const uint8_t cmyk[4]);
// The process color (C, M, Y, K) of an RGB color, the conversion every color
// of an RGB image takes on its way into the art.
void RgbToCmyk(int r, int g, int b, uint8_t cmyk[4]);
// The same as a process color word (C in the low byte, K in the high byte).
uint32_t RgbToProcess(int r, int g, int b);

// ---------------------------------------------------------------------------
// Best custom color for a sub-area of a color image. Begin with the image's
// samples per pixel (3 RGB, 4 CMYK); feed the sub-area's pixels row by row
// (`mask` nonzero for the pixels that belong to the sub-area, or nullptr for
// all); End gives the winning paint. Begin returns false when fewer than two
// candidate entries exist.
struct CustomPaint {
  int16_t index;     // entry of the list
  uint8_t tint;      // 255 = full strength
  uint8_t color[4];  // the process color of that tint
};
bool BestColorBegin(int samplesPerPixel, bool tints, bool taggedOnly);
void BestColorVote(const uint8_t* samples, const uint8_t* mask, int pixelCount);
CustomPaint BestColorEnd();

// ---------------------------------------------------------------------------
// Automatic colors of a "Limited Colors" conversion.
// Deletes every entry whose name begins with "Auto Color" and restarts the
// numbering (start of each conversion).
void RemoveAutoColors();
// The index (`*index`) of the automatic color made for a process color (C,
// M, Y, K bytes, C in the low byte): an entry made during this conversion
// with the same color, else a new "Auto Color n". Failed as AddCustomColor
// (the index then -1) when the list cannot take it.
Status CustomColorForProcess(uint32_t color, int16_t* index);
