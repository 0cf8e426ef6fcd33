// The output stream: block writes at the buffer's edge, the once-per-file
// disk message, the number formatters and the line reader.
#include <string>

#include "core/records.h"
#include "output/stream.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "tests/support/support.h"

namespace {

class StreamTest : public TessTest {
 protected:
  std::string Path() { return PathIn("out.txt"); }
  // Opens the stream, runs `body`, closes, returns the file's bytes.
  template <typename F>
  std::string Written(F body) {
    EXPECT_TRUE(OutOpen(Path().c_str()).ok());
    body();
    OutClose();
    return ReadFileBytes(Path());
  }
};

TEST_F(StreamTest, ExactlyFullBufferIsWrittenAtOnce) {
  ASSERT_TRUE(OutOpen(Path().c_str()).ok());
  std::string block(2048, 'x');
  OutWrite(block.data(), 2000);
  OutWrite(block.data(), 48);
  EXPECT_EQ(OutFillCount(), 0);
  EXPECT_EQ(FileLength(OutFile()), 2048) << "the full block reached the file before close";
  OutWrite("ab", 2);
  EXPECT_EQ(OutFillCount(), 2);
  OutClose();
  EXPECT_EQ(ReadFileBytes(Path()).size(), 2050u);
}

TEST_F(StreamTest, WritesThatStraddleTheBufferKeepTheirOrder) {
  std::string expected;
  std::string got = Written([&] {
    for (int i = 0; i < 700; ++i) {
      std::string piece = std::to_string(i) + ",";
      expected += piece;
      OutString(piece.c_str());
    }
    OutLine("end");
    expected += "end\r";
  });
  EXPECT_EQ(got, expected);
}

TEST_F(StreamTest, DiskFullStopsWithOneMessageAndKeepsTheOldFile) {
  WriteFileBytes(Path(), "old");
  ASSERT_TRUE(OutOpen(Path().c_str()).ok());
  int16_t file = OutFile();
  FileFailWritesAfter(100);
  std::string block(2048, 'y');
  for (int i = 0; i < 5; ++i) OutWrite(block.data(), 2048);
  EXPECT_EQ(FileLength(file), 100) << "nothing is written after the failure";
  EXPECT_EQ(OutClose(), Stopped(kStrDiskFull));
  FileFailWritesAfter(-1);
  EXPECT_TRUE(MessageIds().empty()) << "the caller shows the status";
  EXPECT_EQ(gUserAbort, 1);
  EXPECT_EQ(ReadFileBytes(Path()), "old");
  EXPECT_EQ(FolderEntries(Dir()), std::vector<std::string>{"out.txt"});
}

TEST_F(StreamTest, ClipboardWritesReportTheScratchDisk) {
  gDocument->Set(Flag::writingClipboard);
  int16_t f = FileCreate(PathIn("clip").c_str());
  FileFailWritesAfter(0);
  EXPECT_EQ(WriteChecked(f, 3, "abc"), 0);
  EXPECT_EQ(WriteChecked(f, 3, "abc"), 0);
  FileFailWritesAfter(-1);
  FileClose(f);
  EXPECT_EQ(StopStatus(), Stopped(kStrScratchDiskFull));
  EXPECT_TRUE(MessageIds().empty());
}

TEST_F(StreamTest, OpenFailsWithMessagesAndClearsAbort) {
  gUserAbort = 1;
  EXPECT_EQ(OutOpen(PathIn("no/such/folder/x").c_str()), Failed(kStrDiskFull));
  EXPECT_EQ(gUserAbort, 0) << "opening clears the abort flag";
  WriteFileBytes(Path(), "old");
  MemFailNext(1);
  EXPECT_EQ(OutOpen(Path().c_str()), Failed(kStrNotEnoughMemory));
  EXPECT_TRUE(MessageIds().empty());
  EXPECT_EQ(ReadFileBytes(Path()), "old") << "a buffer failure leaves the old file";
  EXPECT_EQ(FolderEntries(Dir()), std::vector<std::string>{"out.txt"});
}

TEST_F(StreamTest, CoordinatesInPointsWithOneDecimal) {
  // Scale: 1/10 point per art unit horizontally (Sx = 65536), so a value v
  // is v tenths of a point; fractions come from Sx below one unit.
  struct Case {
    int16_t value;
    int32_t scale;
    const char* text;
  } cases[] = {
      {1234, 65536, "123.4 "}, {1230, 65536, "123 "}, {5, 65536, ".5 "},    {10, 65536, "1 "},
      {0, 65536, "0 "},        {4, 6554, "0 "},       {1, 32768, ".1 "},    {120, 65536, "12 "},
      {-1, 13107, "-0 "},      {-1234, 65536, "-123.4 "},
  };
  for (const Case& c : cases) {
    gOutScaleX = c.scale;
    std::string got = Written([&] { OutCoord(c.value, 2); });
    EXPECT_EQ(got, c.text) << "value " << c.value << " scale " << c.scale;
  }
}

TEST_F(StreamTest, VerticalCoordinatesCountFromTheBottom) {
  gImage->height = 100;
  gArtScaleShift = 2;  // image height 400 art units
  gOutScaleY = 65536;
  EXPECT_EQ(Written([] { OutCoord(0, 1); }), "40 ");
  EXPECT_EQ(Written([] { OutCoord(400, 3); }), "0 ");
  EXPECT_EQ(Written([] { OutCoord(399, 1); }), ".1 ");
}

TEST_F(StreamTest, ColorFractions) {
  struct Case {
    uint8_t c;
    const char* text;
  } cases[] = {{0, "0 "}, {255, "1 "}, {254, "1 "}, {128, "0.5 "}, {13, "0.05 "}, {94, "0.37 "}, {1, "0 "}};
  for (const Case& c : cases) EXPECT_EQ(Written([&] { OutFraction(c.c); }), c.text) << int(c.c);
}

TEST_F(StreamTest, LineReaderSplitsOnAnyLineEnd) {
  std::string path = PathIn("in.txt");
  auto lines = [&](const std::string& bytes, int16_t max) {
    WriteFileBytes(path, bytes);
    int16_t f = FileOpen(path.c_str(), kFileRead);
    InReset();
    std::vector<std::string> out;
    std::vector<char> buf(static_cast<size_t>(max) + 1);
    int16_t n;
    while ((n = InLine(buf.data(), max, f)) >= 0) out.push_back(std::string(buf.data(), static_cast<size_t>(n)));
    FileClose(f);
    return out;
  };
  EXPECT_EQ(lines("abc\r\ndef", 40), (std::vector<std::string>{"abc", "def"}));
  EXPECT_EQ(lines("abcdef\r", 3), (std::vector<std::string>{"abc", "def"}));
  EXPECT_EQ(lines("\n\r\nx\n\n", 40), (std::vector<std::string>{"x"}));
  EXPECT_EQ(lines(std::string("a\xff") + "b", 40), (std::vector<std::string>{"a\xff" "b"}))
      << "byte 255 is data, not the end of input";
  std::string big(5000, 'q');
  EXPECT_EQ(lines(big + "\r", 5000), (std::vector<std::string>{big})) << "lines cross buffer refills";
  char buf[4];
  EXPECT_EQ(InLine(buf, 0, kNoFile), -1);
}

}  // namespace
