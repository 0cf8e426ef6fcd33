// Color and grayscale separation: the color codes, the palette and its
// sub-area count, the code grid, the boundary map at twice the grid's
// resolution, the area colors, Limited Colors' code reduction, and the
// Color/Grayscale Setup model.
#include "engine/separation.h"

#include <cstring>
#include <functional>
#include <set>
#include <vector>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/color_setup.h"
#include "engine/settings.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "raster/sample_store.h"
#include "tests/support/support.h"

namespace {

class SeparationTest : public TessTest {
 protected:
  void TearDown() override {
    EndSeparation();
    FreeSampleStore();
    FreeWorkBits();
    TessTest::TearDown();
  }
  // A sample store of width x height pixels of `spp` samples, each pixel
  // given by `pixel(x, y, out)`.
  void Store(int width, int height, int spp, const std::function<void(int, int, uint8_t*)>& pixel) {
    gImage->width = static_cast<int16_t>(width);
    gImage->height = static_cast<int16_t>(height);
    gImage->samplesPerPixel = static_cast<int16_t>(spp);
    gImage->bitsPerSample = 8;
    gImage->photometric = spp == 1 ? 1 : spp == 3 ? 2 : 5;
    gImage->sourceRowBytes = static_cast<int16_t>(width * spp);
    gImage->resolutionX = gImage->resolutionY = 300;
    ASSERT_TRUE(SetRowGeometry());
    ASSERT_TRUE(AllocWorkBits());
    ASSERT_TRUE(MakeSampleStore().ok());
    std::vector<uint8_t> row(static_cast<size_t>(width) * spp);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) pixel(x, y, &row[static_cast<size_t>(x) * spp]);
      PutSampleRow(y, row.data(), 0, width, spp, 0);
    }
  }
  ConversionSettings Posterized(int mode, int complexity = 10) {
    ConversionSettings s = *gConvSettings;
    SetPosterizationMode(&s, mode);
    s.complexity = static_cast<int16_t>(complexity);
    s.noiseReduction = 0;
    return s;
  }
  // The boundary map of the store drawn with `s`, as rows of '#' and '.'.
  std::vector<std::string> Map(Separation* sep, const ConversionSettings& s) {
    EXPECT_TRUE(BuildPalette(sep, &s));
    EXPECT_TRUE(BuildCodeGrid(sep, &s));
    const int W = 2 * sep->cellsX + 1, H = 2 * sep->cellsY + 1;
    sep->mapWidth = W;
    sep->mapHeight = H;
    const int32_t rowBytes = (W + 7) / 8;
    std::vector<uint8_t> bits(static_cast<size_t>(rowBytes) * H);
    DrawBoundaryMap(sep, &s, bits.data(), rowBytes);
    std::vector<std::string> rows;
    for (int y = 0; y < H; ++y) {
      std::string r;
      for (int x = 0; x < W; ++x) r += (bits[static_cast<size_t>(y) * rowBytes + x / 8] >> (7 - x % 8)) & 1 ? '#' : '.';
      rows.push_back(r);
    }
    return rows;
  }
};

TEST_F(SeparationTest, ColorCodesAndProcessColors) {
  struct Level {
    int v, level;
  } levels[] = {{0, 0}, {25, 0}, {26, 1}, {76, 1}, {77, 2}, {127, 2}, {128, 3}, {178, 3}, {179, 4}, {229, 4}, {230, 5},
                {255, 5}};
  for (const Level& l : levels) EXPECT_EQ(CubeLevel(l.v), l.level) << l.v;
  EXPECT_EQ(CubeCode(255, 0, 0), 5);
  EXPECT_EQ(CubeCode(0, 255, 0), 30);
  EXPECT_EQ(CubeCode(0, 0, 255), 180);
  EXPECT_EQ(CubeCode(255, 255, 255), 215);
  // CMYK to the cube's RGB: R = 255 - min(255, C + K), then the hue rules.
  struct Cmyk {
    uint8_t in[4];
    uint8_t rgb[3];
  } cmyks[] = {
      {{0, 0, 0, 0}, {255, 255, 255}},     // G not above R, B not above G: G - G div 8
      {{0, 0, 0, 255}, {0, 0, 0}},
      {{255, 0, 255, 0}, {0, 255, 0}},     // G above R: as it is
      {{0, 255, 255, 0}, {255, 0, 0}},     // red: B not above G, G stays 0
      {{255, 255, 0, 0}, {0, 0, 127}},     // R below B: B = (B + R) div 2
      {{0, 200, 100, 0}, {255, 55, 105}},  // B above G, R not below B: B = (B + G) div 2 -> 80
  };
  cmyks[0].rgb[1] = 255 - 255 / 8;
  cmyks[5].rgb[2] = (155 + 55) / 2;
  for (const Cmyk& c : cmyks) {
    uint8_t rgb[3];
    CmykToCubeRgb(c.in, rgb);
    EXPECT_EQ(rgb[0], c.rgb[0]) << int(c.in[0]) << " " << int(c.in[1]) << " " << int(c.in[2]) << " " << int(c.in[3]);
    EXPECT_EQ(rgb[1], c.rgb[1]) << int(c.in[0]) << " " << int(c.in[1]) << " " << int(c.in[2]) << " " << int(c.in[3]);
    EXPECT_EQ(rgb[2], c.rgb[2]) << int(c.in[0]) << " " << int(c.in[1]) << " " << int(c.in[2]) << " " << int(c.in[3]);
  }
  // A gray code is its K; a cube cell's color is 51 x its levels in CMYK.
  EXPECT_EQ(CodeColor(64, false), 0xBF000000u);
  EXPECT_EQ(CodeColor(215, true), 0u) << "white";
  EXPECT_EQ(CodeColor(0, true) >> 24, 255u) << "black";
  EXPECT_EQ(CodeDistance(5, 30, true), 10);
  EXPECT_EQ(CodeDistance(64, 192, false), 128);
}

TEST_F(SeparationTest, GrayPaletteHasTheSubAreaCountsBands) {
  Store(256, 2, 1, [](int x, int, uint8_t* p) { *p = static_cast<uint8_t>(x); });
  struct Case {
    int complexity, bands;
  } cases[] = {{2, 2}, {3, 3}, {9, 10}, {16, 40}, {19, 64}, {20, 64}};
  for (const Case& c : cases) {
    Separation sep{};
    ConversionSettings s = Posterized(kPosterUnlimited, c.complexity);
    ASSERT_TRUE(BuildPalette(&sep, &s));
    std::set<int> codes(sep.palette, sep.palette + 256);
    EXPECT_EQ(static_cast<int>(codes.size()), c.bands) << c.complexity;
    if (c.complexity == 2) {
      EXPECT_EQ(codes, (std::set<int>{64, 192}));
    }
    for (int v = 1; v < 256; ++v) ASSERT_GE(sep.palette[v], sep.palette[v - 1]) << v;
  }
}

TEST_F(SeparationTest, PreviewShowsEachCodeInItsSubAreasFalseColor) {
  Store(256, 2, 1, [](int x, int, uint8_t* p) { *p = static_cast<uint8_t>(x); });
  ConversionSettings s = Posterized(kPosterUnlimited, 2);
  PreviewSeparation(&s);
  EXPECT_TRUE(gDocument->Test(Flag::separationValid));
  EXPECT_EQ(FalseColor(10), 0x404040u) << "the middle of the dark band";
  EXPECT_EQ(FalseColor(200), 0xC0C0C0u);
  FreeSampleStore();
  FreeWorkBits();
  // Color: a cell's sub-area shows as the centre of its cube cell.
  Store(64, 64, 3, [](int x, int, uint8_t* p) {
    p[0] = x < 32 ? 250 : 0;
    p[1] = 0;
    p[2] = x < 32 ? 0 : 240;
  });
  s = Posterized(kPosterUnlimited, 10);
  PreviewSeparation(&s);
  EXPECT_EQ(FalseColor(CubeCode(250, 0, 0)), 0xFF0000u);
  EXPECT_EQ(FalseColor(CubeCode(0, 0, 240)), 0x0000FFu);
  EXPECT_TRUE(MessageIds().empty());
}

TEST_F(SeparationTest, BoundaryMapLiesOnTheCracksBetweenCodes) {
  // A T of three colors on 4 x 3 pixels: red on top, blue bottom left,
  // yellow bottom right. Cells are the map's odd places; cracks between
  // different codes and their crossings are drawn, and the frame.
  Store(4, 3, 3, [](int x, int y, uint8_t* p) {
    p[0] = y == 0 || x >= 2 ? 255 : 0;
    p[1] = y > 0 && x >= 2 ? 255 : 0;
    p[2] = y > 0 && x < 2 ? 255 : 0;
  });
  Separation sep{};
  std::vector<std::string> map = Map(&sep, Posterized(kPosterUnlimited));
  EXPECT_EQ(sep.cellsX, 4);
  EXPECT_EQ(sep.cellsY, 3);
  const std::vector<std::string> want = {
      "#########",
      "#.......#",
      "#########",
      "#...#...#",
      "#...#...#",
      "#...#...#",
      "#########",
  };
  EXPECT_EQ(map, want);
  EXPECT_NE(sep.codes[0], sep.codes[4]);
  EXPECT_NE(sep.codes[4], sep.codes[6]);
  // Reduce detail: a cell is 2 x 2 pixels.
  ConversionSettings reduced = Posterized(kPosterUnlimited);
  reduced.optionFlags |= Option::reduceDetail;
  Separation half{};
  std::vector<std::string> coarse = Map(&half, reduced);
  EXPECT_EQ(half.cellsX, 2);
  EXPECT_EQ(half.cellsY, 2);
  EXPECT_EQ(coarse.size(), 5u);
  EndSeparation();
  for (Separation* s : {&sep, &half}) {
    if (s->codesHandle != kNoMem) MemFree(s->codesHandle);
    s->codesHandle = kNoMem;
  }
}

TEST_F(SeparationTest, AreaColorsFollowTheirRule) {
  // 3 pixels of (200, 100, 0) and one of (0, 100, 200) in one row.
  Store(4, 1, 3, [](int x, int, uint8_t* p) {
    p[0] = x < 3 ? 200 : 0;
    p[1] = 100;
    p[2] = x < 3 ? 0 : 200;
  });
  Separation sep{};
  ConversionSettings s = Posterized(kPosterUnlimited);
  ASSERT_TRUE(BuildPalette(&sep, &s));
  ASSERT_TRUE(BuildCodeGrid(&sep, &s));
  EXPECT_EQ(AreaRuleFor(&s, &sep), kRuleMean);
  AreaTally t;
  AreaTallyBegin(&t, kRuleMean);
  AreaTallySpan(&t, &sep, 1, 1, 7);  // map row 1: the cells at x = 1, 3, 5, 7
  EXPECT_EQ(t.pixels, 4);
  uint8_t mean[4];
  RgbToCmyk(150, 100, 50, mean);
  uint32_t want = static_cast<uint32_t>(mean[0]) | static_cast<uint32_t>(mean[1]) << 8 |
                  static_cast<uint32_t>(mean[2]) << 16 | static_cast<uint32_t>(mean[3]) << 24;
  EXPECT_EQ(AreaTallyColor(&t, &sep), want);
  // Color averaging off: the most common color; an area of fewer than 6
  // pixels takes the mean (not four bytes of 255, a rich black that a light
  // speck must not print as).
  s.colorFlags |= ColorOption::averagingOff;
  EXPECT_EQ(AreaRuleFor(&s, &sep), kRuleMostCommon);
  AreaTallyBegin(&t, kRuleMostCommon);
  AreaTallySpan(&t, &sep, 1, 1, 7);
  EXPECT_EQ(AreaTallyColor(&t, &sep), want);
  // Limited Colors: the majority code.
  ConversionSettings limited = Posterized(kPosterLimited);
  EXPECT_EQ(AreaRuleFor(&limited, &sep), kRuleCode);
  AreaTallyBegin(&t, kRuleCode);
  AreaTallySpan(&t, &sep, 1, 1, 7);
  EXPECT_EQ(AreaTallyCode(&t), sep.codes[0]);
  if (sep.codesHandle != kNoMem) MemFree(sep.codesHandle);
}

TEST_F(SeparationTest, LimitedColorsKeepTheMostUsedCodes) {
  // Five areas with codes red, red, blue, yellow, dark red; two colors kept:
  // red (most pixels) and blue; yellow goes to the nearest kept code.
  const int red = CubeCode(255, 0, 0), blue = CubeCode(0, 0, 255), yellow = CubeCode(255, 255, 0),
            dark = CubeCode(204, 0, 0);
  int16_t codes[] = {static_cast<int16_t>(red), static_cast<int16_t>(red), static_cast<int16_t>(blue),
                     static_cast<int16_t>(yellow), static_cast<int16_t>(dark)};
  const int32_t weights[] = {100, 100, 80, 10, 5};
  ReduceAreaCodes(codes, weights, 5, 2, true);
  EXPECT_EQ(codes[0], red);
  EXPECT_EQ(codes[2], blue);
  EXPECT_EQ(codes[3], red) << "yellow is 5 levels from red, 10 from blue";
  EXPECT_EQ(codes[4], red);
}

TEST_F(SeparationTest, ColorSetupEnablesByModeAndChecksItsBoxes) {
  const ColorSetupContext color{false, true, false}, gray{true, true, false};
  ConversionSettings s = *gConvSettings;
  struct Case {
    int mode;
    ColorSetupContext ctx;
    bool threshold, complexity, averaging, maxColors, customOptions, customItem;
  } cases[] = {
      {kPosterBlackWhite, color, true, false, false, false, false, true},
      {kPosterLimited, color, false, true, true, true, false, true},
      {kPosterUnlimited, color, false, true, true, false, false, true},
      {kPosterCustom, color, false, true, false, false, true, true},
      {kPosterUnlimited, gray, false, true, false, false, false, false},
  };
  for (const Case& c : cases) {
    SetPosterizationMode(&s, c.mode);
    ColorSetupEnabling e = ColorSetupEnable(&s, c.ctx);
    EXPECT_EQ(e.thresholdChoice, c.threshold) << c.mode;
    EXPECT_EQ(e.complexity, c.complexity) << c.mode;
    EXPECT_EQ(e.averaging, c.averaging) << c.mode;
    EXPECT_EQ(e.maxColors, c.maxColors) << c.mode;
    EXPECT_EQ(e.customOptions, c.customOptions) << c.mode;
    EXPECT_EQ(e.customItem, c.customItem) << c.mode;
  }
  SetPosterizationMode(&s, kPosterLimited);
  s.maxColors = 16;
  EXPECT_EQ(MaxColorsShown(&s, color), 16);
  SetPosterizationMode(&s, kPosterUnlimited);
  EXPECT_EQ(MaxColorsShown(&s, color), -1);

  ColorSetupState state{};
  OpenColorSetup(&state);
  state.typed[kFieldComplexity] = 25;
  ColorFieldCheck check = CheckColorField(&state, kFieldComplexity);
  EXPECT_NE(check.message, 0);
  EXPECT_EQ(check.field, kFieldComplexity);
  EXPECT_EQ(state.typed[kFieldComplexity], 20);
  EXPECT_EQ(gConvSettingsEdit->complexity, 20);
  state.typed[kFieldThreshold] = 40;
  EXPECT_EQ(CheckColorField(&state, kFieldThreshold).message, 0);
  EXPECT_EQ(gConvSettingsEdit->threshold, 40);
  ColorSetupDefaults(&state);
  EXPECT_EQ(gConvSettingsEdit->threshold, 50);
  EXPECT_EQ(gConvSettingsEdit->complexity, 10);
  EXPECT_EQ(MessageIds().size(), 1u);
}

}  // namespace

namespace {

// A whole color conversion in process, and the same with each of its memory
// requests failing in turn: it either makes the art or says why, and always
// leaves the image's own geometry and no block or file behind.
TEST_F(SeparationTest, ColorConversionEndsCleanWhateverMemoryFails) {
  auto halves = [](int x, int, uint8_t* p) {
    p[0] = x < 8 ? 255 : 0;
    p[1] = 0;
    p[2] = x < 8 ? 0 : 255;
  };
  Store(16, 8, 3, halves);
  SetPosterizationMode(gConvSettings, kPosterUnlimited);
  const double scale = gArtScale;
  EXPECT_EQ(ConvertImage(false), Done());
  ASSERT_EQ(gPathCount, 2);
  EXPECT_EQ(gImage->width, 16);
  EXPECT_EQ(gImage->height, 8);
  EXPECT_EQ(gArtScale, scale);
  EXPECT_TRUE(MessageIds().empty());
  // Requests above each size fail (the separation's blocks, the map, the
  // area pass's copy, the path store...), or just the next one.
  const size_t limits[] = {64, 256, 1024, 4096, 16384, 65536, 262144, 1048576};
  for (int k = 0; k < 2 * static_cast<int>(std::size(limits)); ++k) {
    SCOPED_TRACE(k);
    DeleteAllPaths();
    gUserAbort = 0;
    if (k < static_cast<int>(std::size(limits)))
      MemFailAbove(limits[k]);
    else
      MemFailNext(k - static_cast<int>(std::size(limits)) + 1);
    Status converted = ConvertImage(false);
    MemResetFailures();
    EXPECT_EQ(gImage->width, 16);
    EXPECT_EQ(gImage->height, 8);
    EXPECT_EQ(gArtScale, scale);
    EXPECT_FALSE(gDocument->Test(Flag::busy));
    EXPECT_TRUE(gPathCount == 2 || converted.message != 0) << gPathCount << " paths and no message";
  }
  DeleteAllPaths();
}

}  // namespace
