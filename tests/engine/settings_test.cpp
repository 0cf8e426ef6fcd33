// Conversion settings: the built-in defaults, the default groups that the
// setup dialog's Defaults button reuses, the derived values and the parsing
// of decimal option texts.
#include <cstring>

#include "engine/settings.h"
#include "tests/support/support.h"

namespace {

using SettingsTest = TessTest;

TEST_F(SettingsTest, BuiltInDefaults) {
  ConversionSettings s;
  memset(&s, 0xAB, sizeof s);
  SetBuiltInDefaults(&s);
  EXPECT_STREQ(s.name, "Defaults");
  EXPECT_EQ(s.methodFlags, 0x48);
  EXPECT_EQ(s.optionFlags, 0);
  EXPECT_EQ(s.colorFlags, 0);
  EXPECT_EQ(s.fitFlags, 0) << "Refine curves is off";
  EXPECT_EQ(+s.lineType, 0);
  EXPECT_EQ(+s.noiseSuppression, 800);
  EXPECT_EQ(+s.lineThinning, 300);
  EXPECT_EQ(+s.lineWeight, 100);
  EXPECT_EQ(+s.straightToCurved, 30);
  EXPECT_EQ(+s.tolerance, 30);
  EXPECT_EQ(+s.complexity, 10);
  EXPECT_EQ(+s.noiseReduction, 1);
  EXPECT_EQ(+s.threshold, 50);
  EXPECT_EQ(+s.contrast, 10);
  EXPECT_EQ(s.maxColors, 16);
  EXPECT_EQ(s.boost, 50);
  for (uint8_t r : s.reserved) EXPECT_EQ(r, 0);
}

TEST_F(SettingsTest, MethodGroupLeavesTheColorGroupAlone) {
  ConversionSettings s;
  SetBuiltInDefaults(&s);
  s.methodFlags = Method::centerline | Method::lineRecognition | Method::reverseImage | Method::limitedColors;
  s.optionFlags = Option::whiteLines | Option::separateShapes | Option::interactiveThinning | Option::posterize;
  s.maxColors = 99;
  s.tolerance = 45;
  SetMethodDefaults(&s);
  EXPECT_EQ(s.methodFlags, Method::outline | Method::uniformWeight | Method::limitedColors);
  EXPECT_EQ(s.optionFlags, Option::posterize);
  EXPECT_EQ(s.maxColors, 99);
  EXPECT_EQ(+s.tolerance, 45) << "the tolerance is a group of its own";
}

TEST_F(SettingsTest, CurveGroupTurnsRefineCurvesOff) {
  ConversionSettings s;
  SetBuiltInDefaults(&s);
  s.fitFlags = FitOption::refineCurves | 0x80;  // a bit of a later option stays
  s.lineType = 2;
  s.straightToCurved = 45;
  SetCurveDefaults(&s);
  EXPECT_EQ(s.fitFlags, 0x80);
  EXPECT_EQ(+s.lineType, 0);
  EXPECT_EQ(+s.straightToCurved, 30);
}

TEST_F(SettingsTest, DerivedValues) {
  ConversionSettings s;
  SetBuiltInDefaults(&s);
  struct Case {
    int32_t noise, thinning;
    int threshold, steps;
  } cases[] = {{800, 300, 8, 3}, {199, 249, 1, 2}, {100, 250, 1, 3}, {8000, 0, 80, 0}, {850, 2000, 8, 20}};
  for (const Case& c : cases) {
    s.noiseSuppression = c.noise;
    s.lineThinning = c.thinning;
    EXPECT_EQ(NoiseThreshold(&s), c.threshold) << c.noise;
    EXPECT_EQ(ThinningSteps(&s), c.steps) << c.thinning;
  }
}

TEST_F(SettingsTest, DecimalTextsAreScaledAndRounded) {
  struct Case {
    const char* text;
    char sep;
    int scale;
    bool ok;
    int32_t value;
  } cases[] = {
      {"8", '.', 100, true, 800},     {"2.5", '.', 10, true, 25},   {"2,5", ',', 10, true, 25},
      {"0.005", '.', 100, true, 1},   {"0.004", '.', 100, true, 0}, {" 12 ", '.', 100, true, 1200},
      {"1.25", '.', 10, true, 13},    {"2,5", '.', 10, false, 0},   {"", '.', 100, false, 0},
      {"abc", '.', 100, false, 0},    {".5", '.', 100, true, 50},
  };
  for (const Case& c : cases) {
    int32_t v = -1;
    EXPECT_EQ(ParseScaledDecimal(c.text, c.sep, c.scale, &v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST_F(SettingsTest, PercentagesMapToBytesAndBack) {
  EXPECT_EQ(PercentToByte(0), 0);
  EXPECT_EQ(PercentToByte(100), 255);
  EXPECT_EQ(PercentToByte(50), 127);
  for (int p = 0; p <= 100; ++p) EXPECT_EQ(ByteToPercent(PercentToByte(p)), p) << p;
}

}  // namespace
