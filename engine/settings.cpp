#include "engine/settings.h"

#include <cstring>

#include "platform/platform.h"

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
  strncpy(s->name, LoadString(236), sizeof s->name - 1);
  SetMethodDefaults(s);
  SetToleranceDefault(s);
  SetCurveDefaults(s);
  SetColorDefaults(s);
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
