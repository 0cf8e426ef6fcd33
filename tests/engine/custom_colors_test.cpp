// The custom color list: entries and their limit, the color file (reading,
// parse rules, export), import with the "~" rule, new-color naming, sorting,
// the default list, the screen color, the best-custom-color vote and the
// automatic colors of a conversion.
#include "engine/custom_colors.h"

#include <cstring>

#include "art/pathstore.h"
#include "core/records.h"
#include "platform/string_ids.h"
#include "tests/support/support.h"

namespace {

// The index CustomColorForProcess gives a process color (-1 when it failed).
int16_t AutoColor(uint32_t color) {
  int16_t index;
  CustomColorForProcess(color, &index);
  return index;
}

class CustomColorTest : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    ClearCustomColors();
  }
  void TearDown() override {
    ClearCustomColors();
    TessTest::TearDown();
  }
  static int Add(const char* name, uint8_t c, uint8_t m, uint8_t y, uint8_t k, uint8_t tagged = 0) {
    CustomColorEntry* e = NewColorEntry();
    EXPECT_NE(e, nullptr);
    if (!e) return -1;
    strcpy(e->name, name);
    e->color[0] = c;
    e->color[1] = m;
    e->color[2] = y;
    e->color[3] = k;
    e->tagged = tagged;
    return CustomColorCount() - 1;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (int i = 0; i < CustomColorCount(); ++i) names.push_back(CustomColorAt(i)->name);
    return names;
  }
  Status ReadText(const std::string& text) {
    std::string path = PathIn("colors");
    WriteFileBytes(path, text);
    int16_t file = FileOpen(path.c_str(), kFileRead);
    EXPECT_NE(file, kNoFile);
    Status read = ReadColorFile(file, nullptr, nullptr);
    FileClose(file);
    return read;
  }
  static std::vector<uint8_t> Color(int i) {
    const uint8_t* c = CustomColorAt(i)->color;
    return {c[0], c[1], c[2], c[3]};
  }
};

TEST_F(CustomColorTest, ExportWritesTheExactColorFile) {
  Add("Sea (deep)", 140, 128, 255, 0, 1);
  Add("Plain", 0, 13, 26, 254, 0);
  Add("Last", 255, 0, 0, 0, 1);
  std::string head = "%!PS-Quenda-3.0\r\n%%BoundingBox: 0 0 0 0\r\n%QV3_ColorUsage: Color\r\n";
  std::string tail =
      "%%EndComments\r\n%%BeginProlog\r\n%%IncludeResource: procset Quenda_packedarray 2.0 0\r\n"
      "%%IncludeResource: procset Quenda_cmykcolor 1.1 0\r\n%%IncludeResource: procset Quenda_cshow 1.1 0\r\n"
      "%%IncludeResource: procset Quenda_customcolor 1.0 0\r\n"
      "%%IncludeResource: procset Quenda_VexmoorA_QV3 1.0 0\r\n%%EndProlog\r\n%%BeginSetup\r\n%%EndSetup\r\n"
      "1 g\r\n0 0 m\r\n100 100 l\r\nf\r\n%%PageTrailer\r\ngsave annotatepage grestore showpage\r\n%%Trailer\r\n"
      "Quenda_Vexmoor_QV3 /terminate get exec\r\nQuenda_pattern_QV3 /terminate get exec\r\n"
      "Quenda_customcolor /terminate get exec\r\nQuenda_cshow /terminate get exec\r\n"
      "Quenda_cmykcolor /terminate get exec\r\nQuenda_packedarray /terminate get exec\r\n%%EOF\r\n";
  std::string path = PathIn("Default Custom Colors");
  ASSERT_TRUE(ExportCustomColors(path.c_str(), false).ok());
  EXPECT_EQ(ReadFileBytes(path), head +
                                     "%%CMYKCustomColor: 0.55 0.5 1 0 (Sea (deep))\r\n"
                                     "%%+ 0 0.05 0.1 1 (Plain)\r\n%%+ 1 0 0 0 (Last)\r\n" +
                                     tail);
  ASSERT_TRUE(ExportCustomColors(path.c_str(), true).ok());
  EXPECT_EQ(ReadFileBytes(path),
            head + "%%CMYKCustomColor: 0.55 0.5 1 0 (Sea (deep))\r\n%%+ 1 0 0 0 (Last)\r\n" + tail);

  EXPECT_EQ(ExportCustomColors(PathIn("no-folder/colors").c_str(), false), Failed(kStrCantExportColors));
  // A full disk: the message, and the list exported before stays whole.
  std::string before = ReadFileBytes(path);
  ClearMessageLog();
  FileFailWritesAfter(10);
  EXPECT_EQ(ExportCustomColors(path.c_str(), false), Failed(kStrCantExportColors));
  FileFailWritesAfter(-1);
  EXPECT_TRUE(MessageIds().empty()) << "the caller shows the status";
  EXPECT_EQ(ReadFileBytes(path), before);
  EXPECT_EQ(FolderEntries(Dir()), std::vector<std::string>{"Default Custom Colors"});
}

TEST_F(CustomColorTest, ReadingTakesTheFirstBlockOnly) {
  Add("Gray", 0, 0, 0, 10);
  ReadText(
      "%!PS-Quenda-3.0\r\n%%+ 1 1 1 1 (Before)\n\n%%CMYKCustomColor: 1 0 0.55 0 (Aqua)\r"
      "%%+ 0.4 0.4 0.4 0 (Gray)\r\n"
      "%%+ 0.5 (Short)\n"
      "%%+ -0.5 0.25 1.5 -1 (Clamped)\n"
      "%%+ 0 0 0 1 (\\101\\102c\\1x)\n"
      "%%+ 0 0 0 0 (A name that is much longer than thirty-one characters)\n"
      "%%+ 0 0 1 0 (Yellow) trailing\n"
      "%%+0 0 0 1 (Ends)\n%%+ 0 0 0 1 (After)\n"
      "%%CMYKCustomColor: 0 0 0 1 (Second block)\n");
  EXPECT_EQ(Names(), (std::vector<std::string>{"Gray", "Aqua", "Short", "Clamped", "ABc\\1x",
                                               "A name that is much longer than", "Yellow"}));
  EXPECT_EQ(Color(0), (std::vector<uint8_t>{102, 102, 102, 0}));  // replaced, not added
  EXPECT_EQ(Color(1), (std::vector<uint8_t>{255, 0, 140, 0}));
  EXPECT_EQ(Color(2), (std::vector<uint8_t>{128, 0, 0, 0}));  // missing numbers read as 0
  EXPECT_EQ(Color(3), (std::vector<uint8_t>{0, 64, 255, 0}));  // each number clamped to 0..1
  EXPECT_EQ(strlen(CustomColorAt(5)->name), 31u);

  ClearCustomColors();
  ReadText("%%EndComments\n%%CMYKCustomColor: 0 0 0 1 (Late)\n");
  EXPECT_EQ(CustomColorCount(), 0);
}

TEST_F(CustomColorTest, ExportedListReadsBackUnchanged) {
  AddBuiltInColors();
  ASSERT_EQ(CustomColorCount(), 29);
  std::vector<CustomColorEntry> before(CustomColorList(), CustomColorList() + 29);
  std::string path = PathIn("colors");
  ASSERT_TRUE(ExportCustomColors(path.c_str(), false).ok());
  ClearCustomColors();
  int16_t file = FileOpen(path.c_str(), kFileRead);
  ReadColorFile(file, nullptr, nullptr);
  FileClose(file);
  ASSERT_EQ(CustomColorCount(), 29);
  EXPECT_EQ(memcmp(before.data(), CustomColorList(), 29 * sizeof(CustomColorEntry)), 0);
  EXPECT_STREQ(CustomColorAt(0)->name, "Aqua");
  EXPECT_STREQ(CustomColorAt(28)->name, "Yellow Green");
  EXPECT_EQ(Color(0), (std::vector<uint8_t>{255, 0, 140, 0}));
  EXPECT_EQ(Color(5), (std::vector<uint8_t>{128, 217, 255, 0}));  // Brown 0.50 0.85 1 0
}

TEST_F(CustomColorTest, ListStopsAtNineHundred) {
  char name[32];
  for (int i = 0; i < kMaxCustomColors; ++i) {
    snprintf(name, sizeof name, "C%d", i);
    Add(name, 0, 0, 0, static_cast<uint8_t>(i));
  }
  Status added;
  EXPECT_EQ(NewColorEntry(&added), nullptr);
  EXPECT_EQ(added, Failed(kStrCustomColorLimit));
  // The reader stops at the first refusal; an existing name still takes its color.
  EXPECT_EQ(ReadText("%%CMYKCustomColor: 0 0 0 1 (C5)\n%%+ 0 0 0 1 (New one)\n%%+ 0 0 0 1 (Another)\n"),
            Failed(kStrCustomColorLimit));
  EXPECT_EQ(CustomColorCount(), kMaxCustomColors);
  EXPECT_EQ(Color(5)[3], 255);

  DeleteCustomColor(0);
  EXPECT_EQ(CustomColorCount(), kMaxCustomColors - 1);
  EXPECT_STREQ(CustomColorAt(0)->name, "C1");
  EXPECT_EQ(FindCustomColor("C899"), kMaxCustomColors - 2);
  EXPECT_EQ(FindCustomColor("c899"), -1);
}

TEST_F(CustomColorTest, MemoryShortageRefusesTheEntry) {
  MemFailNext(1);
  Status added;
  EXPECT_EQ(NewColorEntry(&added), nullptr);
  EXPECT_EQ(added, Failed(kStrNotEnoughMemory));
  EXPECT_EQ(CustomColorCount(), 0);
}

TEST_F(CustomColorTest, ImportAppendsTildesAndTags) {
  Add("Red", 0, 255, 255, 0);
  std::string longName(30, 'L');
  Add(longName.c_str(), 1, 1, 1, 1);
  CustomColorEntry source[3] = {};
  strcpy(source[0].name, "Red");
  source[0].color[1] = 200;
  strcpy(source[1].name, longName.c_str());
  source[1].color[3] = 99;
  strcpy(source[2].name, "Fresh");
  ImportCustomColors(source, 3, true);
  ImportCustomColors(source, 1, false);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Red", longName, "Red~", "Fresh", "Red~~"}));
  EXPECT_EQ(Color(1), (std::vector<uint8_t>{0, 0, 0, 99}));  // could not grow: overwritten
  EXPECT_EQ(CustomColorAt(1)->tagged, 1);
  EXPECT_EQ(CustomColorAt(2)->tagged, 1);
  EXPECT_EQ(CustomColorAt(4)->tagged, 0);
  EXPECT_EQ(Color(2)[1], 200);

  // The dialog's source list is read from a file the same way.
  std::string path = PathIn("import");
  WriteFileBytes(path, "%%CMYKCustomColor: 0 1 1 0 (Red)\n%%+ 0 0.5 1 0 (Red)\n%%+ 1 0 0 0 (Cyan)\n");
  CustomColorEntry list[kMaxCustomColors];
  int count = 0;
  ASSERT_TRUE(ReadImportFile(path.c_str(), list, &count).ok());
  ASSERT_EQ(count, 2);
  EXPECT_EQ(list[0].color[1], 128);
  EXPECT_EQ(CustomColorCount(), 5);  // the list itself is untouched
  EXPECT_EQ(ReadImportFile(PathIn("missing").c_str(), list, &count), Failed(kStrCantOpenColorFile));
}

TEST_F(CustomColorTest, NewColorsTakeTheSmallestFreeNumber) {
  int index = -1;
  EXPECT_TRUE(NewCustomColor(false, &index).ok());
  EXPECT_EQ(index, 0);
  EXPECT_TRUE(NewCustomColor(true, &index).ok());
  EXPECT_EQ(index, 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"New Color 1", "New Color 2"}));
  EXPECT_EQ(CustomColorAt(1)->tagged, 1);
  EXPECT_EQ(TaggedCustomColorCount(), 1);
  DeleteCustomColor(0);
  NewCustomColor(false, &index);
  EXPECT_EQ(Names(), (std::vector<std::string>{"New Color 2", "New Color 1"}));
}

TEST_F(CustomColorTest, DialogChecksNamesAsksBeforeReplacingAndCounts) {
  Add("New Color 1", 0, 0, 0, 0, 1);
  Add("Brick", 0, 0, 0, 0);
  EXPECT_EQ(RenameCustomColor(1, ""), Failed(kStrEnterName));
  EXPECT_EQ(RenameCustomColor(1, "New Color 1"), Failed(kStrNameInUse));
  EXPECT_TRUE(RenameCustomColor(1, "Brick").ok());  // its own name
  EXPECT_TRUE(RenameCustomColor(1, "Clay").ok());
  EXPECT_STREQ(CustomColorAt(1)->name, "Clay");

  ClearMessageLog();
  const uint8_t swatch[4] = {1, 2, 3, 4};
  EXPECT_TRUE(SetSwatchColor(0, swatch).ok());  // a new color is replaced without asking
  EXPECT_TRUE(MessageIds().empty());
  ScriptAnswers({kAnswerNo, kAnswerYes});
  EXPECT_FALSE(SetSwatchColor(1, swatch).ok());
  EXPECT_EQ(Color(1), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_TRUE(SetSwatchColor(1, swatch).ok());
  EXPECT_EQ(Color(1), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(MessageIds(), (std::vector<int>{kStrReplaceColorValues, kStrReplaceColorValues}));

  SetTintColor(1, 55);
  EXPECT_EQ(Color(1), (std::vector<uint8_t>{0, 0, 0, 140}));

  char text[64];
  FormatColorCounts(text, sizeof text);
  EXPECT_STREQ(text, "1 Tag, 2 Total Colors");
  DeleteCustomColor(0);
  FormatColorCounts(text, sizeof text);
  EXPECT_STREQ(text, "0 Tags, 1 Total Color");
}

TEST_F(CustomColorTest, UseByPathsFindsFillsAndStrokes) {
  Add("A", 0, 0, 0, 0);
  Add("B", 0, 0, 0, 0);
  Add("C", 0, 0, 0, 0);
  ASSERT_TRUE(ResetPathStore().ok());
  MakeBitmapImage(32, 32);
  penX = penY = 1;
  BeginPath(PathPaint{});
  gPaths[0].fillKind = kPaintCustom;
  gPaths[0].fillCustom = 2;
  gPaths[0].strokeKind = kPaintProcess;
  gPaths[0].strokeCustom = 1;  // not a custom stroke
  EXPECT_FALSE(CustomColorInUse(0));
  EXPECT_FALSE(CustomColorInUse(1));
  EXPECT_TRUE(CustomColorInUse(2));
  gPaths[0].strokeKind = kPaintCustom;
  EXPECT_TRUE(CustomColorInUse(1));
  DeleteAllPaths();
}

TEST_F(CustomColorTest, SortedViewIgnoresCaseOfLettersAndKeepsListOrder) {
  for (const char* name : {"beta", "Alpha", "_under", "alpha", "Beta", "Zed", "[x"}) Add(name, 0, 0, 0, 0);
  int16_t* order = SortCustomColors();
  std::vector<std::string> sorted;
  for (int i = 0; i < CustomColorCount(); ++i) sorted.push_back(CustomColorAt(order[i])->name);
  // Letters compare as a-z (0x61 on), so '[' (0x5B) and '_' (0x5F) come first.
  EXPECT_EQ(sorted, (std::vector<std::string>{"[x", "_under", "Alpha", "alpha", "beta", "Beta", "Zed"}));
  EXPECT_EQ(gDocument->customColorOrder, order);
}

TEST_F(CustomColorTest, DefaultListComesFromItsFileOrTheBuiltInOnes) {
  SetModuleFolder(Dir().c_str());
  Add("Stale", 0, 0, 0, 0);
  ScriptAnswers({kAnswerNo, kAnswerYes});
  LoadDefaultCustomColors();
  EXPECT_EQ(CustomColorCount(), 0);
  ASSERT_EQ(MessageLog().size(), 1u);
  EXPECT_EQ(MessageLog()[0].id, kStrCantLocateColorFile);
  EXPECT_EQ(MessageLog()[0].text, "Tessary can't locate the file: \"" + Dir() +
                                      "Default Custom Colors\". Would you like to use Tessary's internal "
                                      "default custom colors?");
  LoadDefaultCustomColors();
  EXPECT_EQ(CustomColorCount(), 29);

  WriteFileBytes(PathIn("Default Custom Colors"), "%%CMYKCustomColor: 0 0 0 1 (Only)\r\n");
  LoadDefaultCustomColors();
  EXPECT_EQ(Names(), std::vector<std::string>{"Only"});
  EXPECT_EQ(MessageLog().size(), 2u);
}

TEST_F(CustomColorTest, DisplayColorAdjustsGreenAndBlue) {
  struct Case {
    uint8_t cmyk[4];
    uint32_t rgb;
  } const cases[] = {
      {{0, 0, 0, 255}, 0x000000}, {{0, 0, 0, 0}, 0xFFFFFF},   {{255, 0, 0, 0}, 0x00FFFF},
      {{0, 255, 255, 0}, 0xFF7F00},  // g = max(0, (255 + 0) / 2)
      {{0, 128, 13, 0}, 0xFF7FB8},   // b = (242 + 127) / 2
      {{255, 255, 0, 0}, 0x00007F},  // b above r: (255 + 0) / 2
  };
  for (const Case& c : cases) EXPECT_EQ(DisplayColor(c.cmyk), c.rgb) << std::hex << c.rgb;
}

TEST_F(CustomColorTest, BestColorPicksTheNearestTintByVote) {
  // Pink (screen 255, 127, 184) and Red (217, 108, 0), as the built-in list has them.
  int pink = Add("Pink", 0, 128, 13, 0);
  int red = Add("Red", 38, 255, 255, 0);
  // A light pink in RGB is nearer to Red at 10% (252, 241, 230) than to any
  // tint of Pink (10%: 255, 243, 248).
  const uint8_t lightPink[3] = {252, 240, 232};
  ASSERT_TRUE(BestColorBegin(3, true, false));
  BestColorVote(lightPink, nullptr, 1);
  CustomPaint paint = BestColorEnd();
  EXPECT_EQ(paint.index, red);
  EXPECT_EQ(paint.tint, 25);
  EXPECT_EQ(std::vector<uint8_t>(paint.color, paint.color + 4), (std::vector<uint8_t>{3, 25, 25, 0}));
  // Without tints Pink is the nearest full color.
  ASSERT_TRUE(BestColorBegin(3, false, false));
  BestColorVote(lightPink, nullptr, 1);
  paint = BestColorEnd();
  EXPECT_EQ(paint.index, pink);
  EXPECT_EQ(paint.tint, 255);
  EXPECT_EQ(std::vector<uint8_t>(paint.color, paint.color + 4), (std::vector<uint8_t>{0, 128, 13, 0}));
}

TEST_F(CustomColorTest, BestColorCountsMaskedPixelsAndMapsTaggedEntries) {
  Add("Cyan", 255, 0, 0, 0, 0);
  Add("Magenta", 0, 255, 0, 0, 1);
  Add("Yellow", 0, 0, 255, 0, 0);
  Add("Black", 0, 0, 0, 255, 1);
  // CMYK samples: three yellowish pixels masked out, two magenta-ish ones in,
  // one black one in.
  const uint8_t row[6 * 4] = {0, 0, 250, 0, 0, 0, 250, 0, 0, 0, 250, 0,
                              0, 240, 0, 0, 0, 240, 0, 0, 0, 0, 0, 250};
  const uint8_t mask[6] = {0, 0, 0, 1, 1, 1};
  ASSERT_TRUE(BestColorBegin(4, false, false));
  BestColorVote(row, mask, 6);
  EXPECT_EQ(BestColorEnd().index, 1);
  ASSERT_TRUE(BestColorBegin(4, false, false));
  BestColorVote(row, nullptr, 6);
  EXPECT_EQ(BestColorEnd().index, 2);
  // Tagged only: candidates Magenta and Black; the yellow pixels are nearer
  // Magenta (distance 490) than Black (505); indices map back to the list.
  ASSERT_TRUE(BestColorBegin(4, false, true));
  BestColorVote(row, nullptr, 3);
  BestColorVote(row + 20, nullptr, 1);
  EXPECT_EQ(BestColorEnd().index, 1);
  // A tie goes to the first candidate.
  ASSERT_TRUE(BestColorBegin(4, false, true));
  BestColorVote(row + 12, nullptr, 1);
  BestColorVote(row + 20, nullptr, 1);
  EXPECT_EQ(BestColorEnd().index, 1);
  // One tagged entry is not enough.
  CustomColorAt(3)->tagged = 0;
  EXPECT_FALSE(BestColorBegin(4, false, true));
}

TEST_F(CustomColorTest, AutoColorsAreMadeReusedAndRemoved) {
  Add("Auto Color 7", 1, 2, 3, 4);
  Add("Kept", 0, 0, 0, 255);
  Add("Auto Colorful", 5, 5, 5, 5);
  RemoveAutoColors();
  EXPECT_EQ(Names(), std::vector<std::string>{"Kept"});
  EXPECT_EQ(AutoColor(0xFF000000u), 1);  // Kept has this color but predates the conversion
  EXPECT_EQ(AutoColor(0x000000FFu), 2);
  EXPECT_EQ(AutoColor(0xFF000000u), 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Kept", "Auto Color 1", "Auto Color 2"}));
  EXPECT_EQ(Color(2), (std::vector<uint8_t>{255, 0, 0, 0}));
  RemoveAutoColors();
  EXPECT_EQ(AutoColor(0x00FF0000u), 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Kept", "Auto Color 1"}));
}

TEST_F(CustomColorTest, FractionsFollowThePercentRule) {
  struct Case {
    uint8_t byte;
    const char* text;
  } const cases[] = {{0, "0 "}, {1, "0 "}, {13, "0.05 "}, {128, "0.5 "}, {140, "0.55 "}, {254, "1 "}, {255, "1 "}};
  for (const Case& c : cases) {
    char text[8];
    FormatColorFraction(c.byte, text);
    EXPECT_STREQ(text, c.text) << int(c.byte);
  }
  const char* end;
  EXPECT_EQ(ParseColorFraction("0.55 x", &end), 140);
  EXPECT_STREQ(end, " x");
  EXPECT_EQ(ParseColorFraction("1", &end), 255);
  EXPECT_EQ(ParseColorFraction("7", &end), 255);  // clamped
  EXPECT_EQ(ParseColorFraction("(x", &end), 0);
  EXPECT_EQ(ParseColorFraction("-0.5 x", &end), 0);  // clamped; the number is used up
  EXPECT_STREQ(end, " x");
}

}  // namespace
