// The conversion settings record, the unit of the named settings presets, and
// the values derived from it.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct ConversionSettings {
  char name[32];
  uint8_t methodFlags;
  uint8_t optionFlags;
  uint8_t colorFlags;
  uint8_t fitFlags;          // FitOption bits; the first of the five bytes once reserved
  uint8_t reserved[4];
  int16_t lineType;          // 0 curved and straight, 1 curved only, 2 straight only
  int32_t noiseSuppression;  // pixels x 100, 100..8000
  int32_t lineThinning;      // steps x 100, 0..2000
  int32_t lineWeight;        // points x 100, 0..1200
  int16_t straightToCurved;  // x 10, 10..50
  int16_t tolerance;         // x 10, 10..50
  int16_t complexity;
  int16_t noiseReduction;    // 0 None, 1 Medium, 2 Maximum
  int16_t threshold;         // percent
  int16_t contrast;          // percent
  uint8_t maxColors;
  uint8_t boost;             // percent
};
#pragma pack(pop)

static_assert(sizeof(ConversionSettings) == 68);
static_assert(offsetof(ConversionSettings, methodFlags) == 32);
static_assert(offsetof(ConversionSettings, optionFlags) == 33);
static_assert(offsetof(ConversionSettings, colorFlags) == 34);
static_assert(offsetof(ConversionSettings, fitFlags) == 35);
static_assert(offsetof(ConversionSettings, lineType) == 40);
static_assert(offsetof(ConversionSettings, noiseSuppression) == 42);
static_assert(offsetof(ConversionSettings, lineThinning) == 46);
static_assert(offsetof(ConversionSettings, lineWeight) == 50);
static_assert(offsetof(ConversionSettings, straightToCurved) == 54);
static_assert(offsetof(ConversionSettings, tolerance) == 56);
static_assert(offsetof(ConversionSettings, complexity) == 58);
static_assert(offsetof(ConversionSettings, noiseReduction) == 60);
static_assert(offsetof(ConversionSettings, threshold) == 62);
static_assert(offsetof(ConversionSettings, contrast) == 64);
static_assert(offsetof(ConversionSettings, maxColors) == 66);
static_assert(offsetof(ConversionSettings, boost) == 67);

// methodFlags
namespace Method {
inline constexpr uint8_t limitedColors = 0x01;
inline constexpr uint8_t boost = 0x02;
inline constexpr uint8_t contrast = 0x04;
inline constexpr uint8_t outline = 0x08;
inline constexpr uint8_t centerline = 0x10;
inline constexpr uint8_t lineRecognition = 0x20;
inline constexpr uint8_t uniformWeight = 0x40;
inline constexpr uint8_t reverseImage = 0x80;
}  // namespace Method

// optionFlags
namespace Option {
inline constexpr uint8_t whiteLines = 0x01;
inline constexpr uint8_t separateShapes = 0x02;
inline constexpr uint8_t addNewColors = 0x04;
inline constexpr uint8_t interactiveThinning = 0x08;
inline constexpr uint8_t posterize = 0x10;
inline constexpr uint8_t reduceDetail = 0x20;
inline constexpr uint8_t useCustomColors = 0x40;
inline constexpr uint8_t taggedOnly = 0x80;
}  // namespace Option

// colorFlags
namespace ColorOption {
inline constexpr uint8_t generateTints = 0x01;
inline constexpr uint8_t averagingOff = 0x02;
}  // namespace ColorOption

// fitFlags. Files and presets written before the option existed hold 0 in
// this byte (it was reserved, written as 0 and kept as read), so they keep
// their meaning: the option is off.
namespace FitOption {
// Refine curves: after the fitter has chosen a curve, its two control points
// are fitted to the chain pixels it covers by least squares (same segments,
// same anchors, same tangent directions), kept only when the refined curve
// passes the band test.
inline constexpr uint8_t refineCurves = 0x01;
}  // namespace FitOption

extern ConversionSettings* gConvSettings;      // committed, read by every conversion
extern ConversionSettings* gConvSettingsEdit;  // the dialogs' working copy

// The three default groups that the Conversion Setup dialog's Defaults button
// reuses, and the color group that only the built-in defaults set.
void SetMethodDefaults(ConversionSettings* s);
void SetToleranceDefault(ConversionSettings* s);
void SetCurveDefaults(ConversionSettings* s);
void SetColorDefaults(ConversionSettings* s);
// Every field at its built-in default, named "Defaults".
void SetBuiltInDefaults(ConversionSettings* s);

// The range of every numeric field of the record, as the setup dialogs
// allow it, and what becomes of a value outside it (a preset read from a
// file): a quantity is brought to the nearest limit, as the dialogs do with
// a typed value; a choice among a few meanings takes its built-in default.
enum RangeRule : uint8_t { kClampToRange = 0, kUseDefault = 1 };
struct SettingRange {
  uint16_t offset;  // of the field in ConversionSettings
  uint8_t size;     // 1 (unsigned), 2 or 4 bytes (signed)
  RangeRule rule;
  int32_t lo, hi;
};
extern const SettingRange kSettingRanges[];
extern const int kSettingRangeCount;
// The range of the field at `offset`; nullptr for a field without one.
const SettingRange* SettingRangeAt(size_t offset);
// Reads and writes the field of a range.
int32_t GetSetting(const ConversionSettings* s, const SettingRange& r);
void PutSetting(ConversionSettings* s, const SettingRange& r, int32_t value);
// Brings every field into its range and terminates the name; returns the
// number of fields changed.
int ApplySettingRanges(ConversionSettings* s);

// Derived values.
inline int NoiseThreshold(const ConversionSettings* s) { return s->noiseSuppression / 100; }
inline int ThinningSteps(const ConversionSettings* s) { return (s->lineThinning + 50) / 100; }

// The posterization mode: the item of the Color/Grayscale Setup dialog's
// "Posterization:" list, derived from the flags. Use Custom Colors is never
// the mode of a gray (one-sample) image.
enum PosterizationMode : int {
  kPosterLimited = 1,
  kPosterUnlimited = 2,
  kPosterCustom = 3,
  kPosterBlackWhite = 4,
};
int PosterizationModeOf(const ConversionSettings* s, bool grayImage);
// Sets the flags of a chosen mode (1 to 4; anything else changes nothing).
void SetPosterizationMode(ConversionSettings* s, int mode);
// The target number of sub-area codes for a Complexity of 2 to 20 (out of
// range values are taken at the nearest limit).
int SubAreaCount(int complexity);

// Parses a decimal option text as the dialogs do: scaled by `scale` (100, or
// 10 for the two tolerances) with 0.5 added before truncation, reading
// `separator` as the decimal point. Returns false for text that is no number.
bool ParseScaledDecimal(const char* text, char separator, int scale, int32_t* value);

// Percent shown to the user <-> stored byte.
inline int PercentToByte(int p) { return (p * 255 + 49) / 100; }
inline int ByteToPercent(int b) { return (b * 100 + 127) / 255; }
