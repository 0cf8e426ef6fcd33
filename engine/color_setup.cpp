#include "engine/color_setup.h"

#include "art/pathstore.h"
#include "engine/conversion.h"
#include "engine/custom_colors.h"
#include "engine/separation.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "core/host.h"
#include "core/records.h"

namespace {

struct FieldRule {
  int lo, hi, message;
};
const FieldRule kFieldRules[kColorFieldCount] = {
    {2, 20, kStrComplexityRange}, {2, 255, kStrMaxColorsRange}, {0, 100, kStrPercentageRange},
    {0, 100, kStrPercentageRange}, {0, 100, kStrPercentageRange},
};

int32_t FieldValue(const ConversionSettings* s, int field) {
  switch (field) {
    case kFieldComplexity: return s->complexity;
    case kFieldMaxColors: return s->maxColors;
    case kFieldThreshold: return s->threshold;
    case kFieldContrast: return s->contrast;
    default: return s->boost;
  }
}

void StoreField(ConversionSettings* s, int field, int32_t v) {
  switch (field) {
    case kFieldComplexity: s->complexity = static_cast<int16_t>(v); break;
    case kFieldMaxColors: s->maxColors = static_cast<uint8_t>(v); break;
    case kFieldThreshold: s->threshold = static_cast<int16_t>(v); break;
    case kFieldContrast: s->contrast = static_cast<int16_t>(v); break;
    default: s->boost = static_cast<uint8_t>(v); break;
  }
}

void ShowFields(ColorSetupState* state) {
  for (int f = 0; f < kColorFieldCount; ++f) state->typed[f] = FieldValue(gConvSettingsEdit, f);
}

// The methods that only a two-color conversion can use.
constexpr uint8_t kTwoColorMethods = Method::centerline | Method::lineRecognition | Method::reverseImage;

}  // namespace

ColorSetupContext CurrentColorSetupContext() {
  ColorSetupContext ctx{};
  bool open = gImage->width > 0 && gImage->height > 0;
  ctx.grayImage = open && gImage->samplesPerPixel < 2;
  ctx.multiBit = open && gImage->bitsPerSample > 1;
  ctx.artShown = gPathCount > 0;
  return ctx;
}

ColorSetupEnabling ColorSetupEnable(const ConversionSettings* s, const ColorSetupContext& ctx) {
  ColorSetupEnabling e{};
  int mode = PosterizationModeOf(s, ctx.grayImage);
  bool posterize = mode != kPosterBlackWhite;
  bool contrast = (s->methodFlags & Method::contrast) != 0;
  e.customItem = !ctx.grayImage;
  e.thresholdChoice = !posterize;
  e.thresholdBox = !posterize && !contrast;
  e.contrastBox = !posterize && contrast;
  e.boostBox = e.contrastBox && (s->methodFlags & Method::boost);
  e.complexity = posterize;
  // The color-only groups never apply to a gray image.
  e.averaging = !ctx.grayImage && (mode == kPosterLimited || mode == kPosterUnlimited);
  e.maxColors = !ctx.grayImage && mode == kPosterLimited;
  e.addNewColors = e.maxColors;
  e.customOptions = !ctx.grayImage && mode == kPosterCustom;
  e.preview = ctx.multiBit && !ctx.artShown;
  return e;
}

int MaxColorsShown(const ConversionSettings* s, const ColorSetupContext& ctx) {
  int mode = PosterizationModeOf(s, ctx.grayImage);
  if (mode == kPosterLimited) return s->maxColors;
  if (mode != kPosterCustom) return -1;
  int n = (s->optionFlags & Option::taggedOnly) ? TaggedCustomColorCount() : CustomColorCount();
  return (s->colorFlags & ColorOption::generateTints) ? n * 10 : n;
}

void OpenColorSetup(ColorSetupState* state) {
  *gConvSettingsEdit = *gConvSettings;
  if (gConvSettingsEdit->maxColors == 0) gConvSettingsEdit->maxColors = 16;
  ShowFields(state);
  state->previewNoteShown = false;
  state->previewShown = false;
}

ColorFieldCheck CheckColorField(ColorSetupState* state, int field) {
  ColorFieldCheck r{0, field};
  if (field < 0 || field >= kColorFieldCount) return r;
  const FieldRule& rule = kFieldRules[field];
  int32_t v = state->typed[field];
  if (v < rule.lo || v > rule.hi) {
    v = v < rule.lo ? rule.lo : rule.hi;
    state->typed[field] = v;
    r.message = rule.message;
  }
  StoreField(gConvSettingsEdit, field, v);
  if (r.message) ShowWarning(r.message);
  return r;
}

ColorFieldCheck CheckColorFields(ColorSetupState* state) {
  for (int f = 0; f < kColorFieldCount; ++f) {
    ColorFieldCheck r = CheckColorField(state, f);
    if (r.message) return r;
  }
  return ColorFieldCheck{0, 0};
}

void ColorSetupDefaults(ColorSetupState* state) {
  SetColorDefaults(gConvSettingsEdit);
  ShowFields(state);
}

bool ColorSetupPreview(ColorSetupState* state, const ColorSetupContext& ctx) {
  if (!ColorSetupEnable(gConvSettingsEdit, ctx).preview) return false;
  if (CheckColorFields(state).message) return false;
  bool posterize = PosterizationModeOf(gConvSettingsEdit, ctx.grayImage) != kPosterBlackWhite;
  if (posterize && !state->previewNoteShown) {
    ShowWarning(kStrFalseColorPreview);
    state->previewNoteShown = true;
  }
  PreviewSeparation(gConvSettingsEdit);
  state->previewShown = true;
  return true;
}

bool ColorSetupOK(ColorSetupState* state, const ColorSetupContext& ctx) {
  if (CheckColorFields(state).message) return false;
  ConversionSettings* s = gConvSettingsEdit;
  bool posterize = (s->optionFlags & Option::posterize) != 0;
  if (posterize && ((s->methodFlags & kTwoColorMethods) || (s->optionFlags & Option::whiteLines))) {
    if (AskQuestion(kStrChangeMethodToOutline) == kAnswerYes) {
      s->methodFlags = static_cast<uint8_t>((s->methodFlags & ~kTwoColorMethods) | Method::outline);
      s->optionFlags = static_cast<uint8_t>(s->optionFlags & ~Option::whiteLines);
    } else {
      SetPosterizationMode(s, kPosterBlackWhite);
      gHost.refreshImageWindow();
      if (state->previewShown) ColorSetupPreview(state, ctx);
    }
    return false;
  }
  gDocument->Clear(Flag::separationValid);
  gDocument->Set(Flag::settingsChanged);
  *gConvSettings = *gConvSettingsEdit;
  return true;
}
