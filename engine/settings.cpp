#include "engine/settings.h"

#include <cstring>

#include "platform/platform.h"
#include "platform/string_ids.h"

namespace {
ConversionSettings gSettings;
ConversionSettings gSettingsEdit;
}  // namespace

ConversionSettings* gConvSettings = &gSettings;
ConversionSettings* gConvSettingsEdit = &gSettingsEdit;

void SetMethodDefaults(ConversionSettings* s) {
  s->methodFlags = static_cast<uint8_t>((s->methodFlags | Method::outline | Method::uniformWeight) &
                                        ~(Method::centerline | Method::lineRecognition | Method::reverseImage));
  s->optionFlags = static_cast<uint8_t>(
      s->optionFlags & ~(Option::whiteLines | Option::separateShapes | Option::interactiveThinning));
  s->noiseSuppression = 800;
  s->lineThinning = 300;
  s->lineWeight = 100;
}

void SetToleranceDefault(ConversionSettings* s) { s->tolerance = 30; }

void SetCurveDefaults(ConversionSettings* s) {
  s->straightToCurved = 30;
  s->lineType = 0;
  s->fitFlags = static_cast<uint8_t>(s->fitFlags & ~FitOption::refineCurves);
}

void SetColorDefaults(ConversionSettings* s) {
  s->complexity = 10;
  s->noiseReduction = 1;
  s->threshold = 50;
  s->contrast = 10;
  s->maxColors = 16;
  s->boost = 50;
  s->methodFlags = static_cast<uint8_t>(s->methodFlags & ~(Method::limitedColors | Method::boost | Method::contrast));
  s->optionFlags = static_cast<uint8_t>(s->optionFlags & (Option::whiteLines | Option::separateShapes |
                                                          Option::interactiveThinning));
  s->colorFlags = 0;
}

void SetBuiltInDefaults(ConversionSettings* s) {
  memset(s, 0, sizeof *s);
  strncpy(s->name, LoadString(kStrDefaults), sizeof s->name - 1);
  SetMethodDefaults(s);
  SetToleranceDefault(s);
  SetCurveDefaults(s);
  SetColorDefaults(s);
}

const SettingRange kSettingRanges[] = {
    {offsetof(ConversionSettings, lineType), 2, kUseDefault, 0, 2},
    {offsetof(ConversionSettings, noiseSuppression), 4, kClampToRange, 100, 8000},
    {offsetof(ConversionSettings, lineThinning), 4, kClampToRange, 0, 2000},
    {offsetof(ConversionSettings, lineWeight), 4, kClampToRange, 0, 1200},
    {offsetof(ConversionSettings, straightToCurved), 2, kClampToRange, 10, 50},
    {offsetof(ConversionSettings, tolerance), 2, kClampToRange, 10, 50},
    {offsetof(ConversionSettings, complexity), 2, kClampToRange, 2, 20},
    {offsetof(ConversionSettings, noiseReduction), 2, kUseDefault, 0, 2},
    {offsetof(ConversionSettings, threshold), 2, kClampToRange, 0, 100},
    {offsetof(ConversionSettings, contrast), 2, kClampToRange, 0, 100},
    {offsetof(ConversionSettings, maxColors), 1, kClampToRange, 2, 255},
    {offsetof(ConversionSettings, boost), 1, kClampToRange, 0, 100},
};
const int kSettingRangeCount = sizeof kSettingRanges / sizeof kSettingRanges[0];

const SettingRange* SettingRangeAt(size_t offset) {
  for (const SettingRange& r : kSettingRanges)
    if (r.offset == offset) return &r;
  return nullptr;
}

int32_t GetSetting(const ConversionSettings* s, const SettingRange& r) {
  const auto* p = reinterpret_cast<const uint8_t*>(s) + r.offset;
  if (r.size == 1) return *p;
  if (r.size == 2) {
    int16_t v;
    memcpy(&v, p, 2);
    return v;
  }
  int32_t v;
  memcpy(&v, p, 4);
  return v;
}

void PutSetting(ConversionSettings* s, const SettingRange& r, int32_t value) {
  auto* p = reinterpret_cast<uint8_t*>(s) + r.offset;
  if (r.size == 1) {
    *p = static_cast<uint8_t>(value);
  } else if (r.size == 2) {
    int16_t v = static_cast<int16_t>(value);
    memcpy(p, &v, 2);
  } else {
    memcpy(p, &value, 4);
  }
}

int ApplySettingRanges(ConversionSettings* s) {
  ConversionSettings defaults;
  SetBuiltInDefaults(&defaults);
  int changed = 0;
  for (const SettingRange& r : kSettingRanges) {
    int32_t v = GetSetting(s, r);
    if (v >= r.lo && v <= r.hi) continue;
    int32_t fixed = r.rule == kUseDefault ? GetSetting(&defaults, r) : v < r.lo ? r.lo : r.hi;
    PutSetting(s, r, fixed);
    ++changed;
  }
  s->name[sizeof s->name - 1] = 0;
  return changed;
}

int PosterizationModeOf(const ConversionSettings* s, bool grayImage) {
  if (!(s->optionFlags & Option::posterize)) return kPosterBlackWhite;
  if ((s->optionFlags & Option::useCustomColors) && !grayImage) return kPosterCustom;
  return (s->methodFlags & Method::limitedColors) ? kPosterLimited : kPosterUnlimited;
}

void SetPosterizationMode(ConversionSettings* s, int mode) {
  switch (mode) {
    case kPosterLimited:
      s->optionFlags = static_cast<uint8_t>((s->optionFlags | Option::posterize) & ~Option::useCustomColors);
      s->methodFlags |= Method::limitedColors;
      break;
    case kPosterUnlimited:
      s->optionFlags = static_cast<uint8_t>((s->optionFlags | Option::posterize) & ~Option::useCustomColors);
      s->methodFlags = static_cast<uint8_t>(s->methodFlags & ~Method::limitedColors);
      break;
    case kPosterCustom:
      s->optionFlags |= Option::posterize | Option::useCustomColors;
      break;
    case kPosterBlackWhite:
      s->optionFlags = static_cast<uint8_t>(s->optionFlags & ~Option::posterize);
      break;
    default:
      break;
  }
}

int SubAreaCount(int complexity) {
  static const int16_t kCounts[19] = {2, 3, 4, 5, 6, 7, 8, 10, 12, 14, 16, 20, 24, 32, 40, 48, 64, 128, 256};
  if (complexity < 2) complexity = 2;
  if (complexity > 20) complexity = 20;
  return kCounts[complexity - 2];
}

bool ParseScaledDecimal(const char* text, char separator, int scale, int32_t* value) {
  while (*text == ' ') ++text;
  bool negative = false;
  if (*text == '-' || *text == '+') negative = *text++ == '-';
  double v = 0;
  bool digits = false;
  while (*text >= '0' && *text <= '9') {
    v = v * 10 + (*text++ - '0');
    digits = true;
    if (v > 1e9) return false;
  }
  if (*text == separator) {
    ++text;
    double place = 0.1;
    while (*text >= '0' && *text <= '9') {
      v += (*text++ - '0') * place;
      place /= 10;
      digits = true;
    }
  }
  while (*text == ' ') ++text;
  if (!digits || *text) return false;
  double scaled = v * scale + 0.5;
  *value = static_cast<int32_t>(negative ? -(v * scale) + 0.5 : scaled);
  return true;
}
