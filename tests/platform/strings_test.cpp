// The string table: lookup by number relies on the table being sorted with
// unique numbers, and the texts must come out exactly as written, including
// odd spacing, embedded quotes and printf formats.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/string_ids.h"

namespace {

struct Entry {
  int id;
  const char* text;
};

const Entry kTable[] = {
#include "platform/string_table.inc"
};

TEST(StringTable, SortedWithUniqueIdsAndEveryEntryFound) {
  const size_t n = sizeof kTable / sizeof kTable[0];
  ASSERT_GT(n, 1u);
  for (size_t i = 1; i < n; ++i)
    EXPECT_LT(kTable[i - 1].id, kTable[i].id)
        << "entry " << i << " (id " << kTable[i].id << ") is out of order or repeated";
  // The binary search must reach every entry, first and last included.
  for (const Entry& e : kTable) EXPECT_STREQ(LoadString(e.id), e.text) << "id " << e.id;
}

TEST(StringTable, UnknownNumbersGiveEmptyText) {
  for (int id : {-1, 0, 1, 9, 10, 99999}) EXPECT_STREQ(LoadString(id), "") << id;
}

TEST(StringTable, ExactTexts) {
  struct Case {
    int id;
    const char* text;
  } cases[] = {
      // leading blank and trailing comma
      {137, " pass %d of %d,"},
      // trailing blank kept
      {203, "Automatically generated custom colors will exceed the remaining space in the custom "
            "color list. Temporarily disable custom color creation for this conversion? "},
      // embedded quotes and the double blank after the first sentence
      {370, "You need to \"tag\" at least two custom colors to perform a conversion with tagged "
            "colors only.  Check the Color/Grayscale Setup dialog box and tag colors with the "
            "Custom Color dialog box."},
      {43, "Save changes to the Quenda Tessary document \"%s\" before closing?"},
      {273, "%d%% Black"},
      {301, "%dK "},
      {329, "Undo "},
      {401, "Quenda Tessary"},
      {kStrLineRecognizing, "Line Recognizing -"},
  };
  for (const Case& c : cases) EXPECT_STREQ(LoadString(c.id), c.text) << "id " << c.id;
}

TEST(StringTable, FormatStringFillsTheFormat) {
  EXPECT_EQ(FormatString(137, 2, 5), " pass 2 of 5,");
  EXPECT_EQ(FormatString(273, 40), "40% Black");
  EXPECT_EQ(FormatString(43, "Art 1"),
            "Save changes to the Quenda Tessary document \"Art 1\" before closing?");
  EXPECT_EQ(FormatString(81, 1L, 1L), "Smoothed 1 point of the 1 point operated on.");
  EXPECT_EQ(FormatString(160, -36), "Error -36 opening input file.");
}

}  // namespace
