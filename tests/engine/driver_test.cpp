// The conversion driver: the life of the scratch stores, the memory plan and
// its failure messages, stopping, the cancel poll and the progress window.
// The passes behind the driver are exercised by their own tests; here the
// bitmap holds a few shapes and the driver's own duties are checked.
#include <algorithm>
#include <cstring>
#include <string>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/settings.h"
#include "platform/platform.h"
#include "platform/string_ids.h"
#include "shell/document.h"
#include "tests/support/support.h"

namespace {

uint32_t gTicks = 0;
uint32_t Ticks() { return gTicks; }

class DriverTest : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    gTicks += 1000;  // every test starts past the poll's quiet time
    SetTickSource(Ticks);
  }
  void TearDown() override {
    DeleteAllPaths();
    CloseDocument();
    TessTest::TearDown();
  }
  // An image with a square, a ring and a dot, as a document would hold it.
  void MakeDrawing(int width = 200, int height = 120) {
    MakeBitmapImage(width, height);
    FillRect(10, 10, 40, 40);
    FillRect(60, 20, 100, 60);
    FillRect(70, 30, 90, 50);  // filled again below to leave a ring
    for (int y = 30; y < 50; ++y)
      for (int x = 70; x < 90; ++x) SetWorkPixel(x, y, 0);
    SetWorkPixel(150, 100);
    gDocument->imageWindow = reinterpret_cast<WindowHandle>(this);
  }
  std::string Bitmap() {
    return std::string(reinterpret_cast<char*>(gWorkBits), BitmapBlockBytes() - 2 * gImage->rowBytes);
  }
  std::vector<std::string> ScratchFiles() { return FolderEntries(Dir()); }
};

TEST_F(DriverTest, ConvertLeavesTheBitmapAsItWasAndNoStoreBehind) {
  MakeDrawing();
  std::string before = Bitmap();
  ConvertImage(false);
  EXPECT_EQ(Bitmap(), before);
  EXPECT_TRUE(ScratchFiles().empty());
  EXPECT_FALSE(gDocument->Test(Flag::busy));
  EXPECT_EQ(workBuffer, nullptr);
  EXPECT_EQ(templateBits, nullptr);
  EXPECT_FALSE(Progress().open);
}

TEST_F(DriverTest, WhiteLinesInvertsForTheConversionAndPutsTheBitmapBack) {
  MakeDrawing();
  std::string before = Bitmap();
  gConvSettings->optionFlags |= Option::whiteLines;
  ConvertImage(false);
  EXPECT_EQ(Bitmap(), before);
  ASSERT_GE(gPathCount, 1);
  // The background rectangle comes first, black, unstroked, over the whole
  // image to the outer edges of its pixels.
  const PathRecord& bg = gPaths[0];
  EXPECT_EQ(bg.fillKind, kPaintBlack);
  EXPECT_EQ(bg.strokeKind, kPaintNone);
  EXPECT_EQ(bg.pointCount, 10);
  EXPECT_EQ(CountAnchors(&bg), 4);
  auto* w = static_cast<int16_t*>(MemLock(bg.points));
  EXPECT_EQ(w[2], static_cast<int16_t>(gImage->rowBits * gArtScale));
  EXPECT_EQ(w[5], static_cast<int16_t>(gImage->height * gArtScale));
  MemUnlock(bg.points);
  EXPECT_TRUE(gDocument->Test(Flag::artModified));
  EXPECT_EQ(gDocument->viewMode, 0);
}

TEST_F(DriverTest, NoPathsFoundUnlessStopped) {
  MakeBitmapImage(200, 120);  // a blank image: nothing to trace
  gDocument->imageWindow = reinterpret_cast<WindowHandle>(this);
  EXPECT_EQ(ConvertImage(false), Done(kStrNoPathsFound));

  gTicks += 100;
  QueueEscape();
  EXPECT_EQ(ConvertImage(false), Stopped()) << "a stopped conversion has nothing to tell";
  EXPECT_EQ(gUserAbort, 1);
  EXPECT_TRUE(MessageIds().empty()) << "the shell shows the result";
}

TEST_F(DriverTest, StoppingKeepsThePathsMadeSoFarAndRestoresTheBitmap) {
  MakeDrawing();
  std::string before = Bitmap();
  gConvSettings->optionFlags |= Option::whiteLines;
  QueueEscape();
  ConvertImage(false);
  EXPECT_EQ(gPathCount, 1) << "the background path made before the stop stays";
  EXPECT_EQ(Bitmap(), before);
  EXPECT_TRUE(ScratchFiles().empty());
  EXPECT_TRUE(MessageIds().empty());
}

TEST_F(DriverTest, LineRecognitionAloneNeverRunsTheDriver) {
  MakeDrawing();
  gConvSettings->methodFlags = Method::lineRecognition;
  gConvSettings->optionFlags |= Option::whiteLines;
  MemFailAbove(10000);  // any bitmap-sized block the driver asked for would fail
  ConvertImage(false);
  MemResetFailures();
  EXPECT_EQ(gPathCount, 1) << "the background rectangle is still the first path";
  EXPECT_EQ(std::find(MessageIds().begin(), MessageIds().end(), 11), MessageIds().end());
}

TEST_F(DriverTest, TemplateSpooledToMemtempStaysAsTheImageFileUntilClose) {
  MakeDrawing(2000, 300);  // a bitmap block larger than the work buffer
  std::string before = Bitmap();
  MemFailAbove(BitmapBlockBytes() - 1);  // neither a mask nor a template copy in memory
  ConvertImage(false);
  MemResetFailures();
  EXPECT_EQ(Bitmap(), before) << "the bitmap came back from the template on disk";
  EXPECT_EQ(ScratchFiles(), std::vector<std::string>{"memtemp"});
  EXPECT_NE(gImage->fileHandle, kNoFile);
  EXPECT_EQ(imageSpooled, 1);
  EXPECT_EQ(FileLength(gImage->fileHandle), gImage->rowBytes * gImage->height);

  ConvertImage(false);  // again: the template is spooled anew into a fresh store
  EXPECT_EQ(ScratchFiles(), std::vector<std::string>{"memtemp"});
  EXPECT_EQ(Bitmap(), before);

  CloseDocument();
  EXPECT_TRUE(ScratchFiles().empty()) << "closing the document deletes the spooled image";
  EXPECT_EQ(gImage->fileHandle, kNoFile);
}

TEST_F(DriverTest, MemoryShortForTheWorkBufferEndsTheConversion) {
  MakeDrawing();
  MemFailAbove(60000);  // the work buffer (about 64 KB) cannot be had
  EXPECT_EQ(ConvertImage(false), Failed(kStrInsufficientMemory));
  MemResetFailures();
  EXPECT_TRUE(ScratchFiles().empty());
  EXPECT_FALSE(gDocument->Test(Flag::busy));
}

TEST_F(DriverTest, MemoryShortForThePathStoreEndsBeforeAnyPass) {
  MakeDrawing();
  std::string before = Bitmap();
  MemFailNext(1);
  EXPECT_EQ(ConvertImage(false), Failed(kStrInsufficientMemory));
  EXPECT_EQ(Bitmap(), before);
}

TEST_F(DriverTest, ScratchStoresLiveInTheScratchFolder) {
  MakeDrawing();
  int16_t f = OpenScratchStore(kStoreEdgearr);
  ASSERT_NE(f, kNoFile);
  EXPECT_EQ(OpenScratchStore(kStoreEdgearr), f) << "a store is created once per conversion";
  EXPECT_EQ(ScratchFiles(), std::vector<std::string>{"edgearr"});
  DeleteScratchStores();
  EXPECT_TRUE(ScratchFiles().empty());
  EXPECT_EQ(scratchHandles[kStoreEdgearr], kNoFile);

  strcpy(gPrefs->scratchFolder, (Dir() + "missing/").c_str());
  EXPECT_EQ(OpenScratchStore(kStoreDgtemp), kNoFile);
  EXPECT_EQ(StopStatus(), Stopped(kStrCantOpenScratch));
}

TEST_F(DriverTest, StaleStoresAreDeletedAtStart) {
  for (const char* n : {"memtemp", "dgskel", "other"}) WriteFileBytes(PathIn(n), "x");
  DeleteStaleScratchFiles(Dir().c_str());
  EXPECT_EQ(ScratchFiles(), std::vector<std::string>{"other"});
}

TEST_F(DriverTest, CancelPollLooksAtEventsAtMostOncePerSecond) {
  gUserAbort = 0;
  int pumps = PumpCount();
  PollUserAbort();
  EXPECT_EQ(PumpCount(), pumps + 1);
  QueueEscape();
  gTicks += 59;
  EXPECT_EQ(PollUserAbort(), 0) << "within 60 ticks the queue is not looked at";
  EXPECT_EQ(PumpCount(), pumps + 1);
  gTicks += 1;
  EXPECT_EQ(PollUserAbort(), 1);
  gTicks += 100;
  EXPECT_EQ(PollUserAbort(), 1) << "once set, the flag is returned without pumping";
  EXPECT_EQ(PumpCount(), pumps + 2);

  gUserAbort = 0;
  gTicks += 100;
  ProgressPressStop();
  EXPECT_EQ(PollUserAbort(), 1) << "the progress window's Stop button stops too";
  gUserAbort = 0;
  gTicks += 100;
  QueueCloseRequest();
  EXPECT_EQ(PollUserAbort(), 1);
}

TEST_F(DriverTest, ProgressWindowIgnoresRepeatsAndClosesOnZero) {
  ShowProgress(10, "Outlining -");
  EXPECT_TRUE(Progress().open);
  EXPECT_EQ(Progress().title, "Progress");
  int shows = Progress().shows;
  ShowProgress(10, "Outlining -");
  ShowProgress(101, "Outlining -");
  ShowProgress(-1, "x");
  EXPECT_EQ(Progress().shows, shows);
  ShowProgress(20, "Outlining -");
  EXPECT_EQ(Progress().percent, 20);
  EXPECT_EQ(Progress().text, "Outlining -");
  ShowProgress(0, "");
  EXPECT_FALSE(Progress().open);

  gDocument->Set(Flag::batchRunning);
  gDocument->batchFileCount = 3;
  ShowProgress(5, "Reading Image Data");
  EXPECT_EQ(Progress().batchText, "Files to go: 3");
  ShowProgress(0, "");
}

TEST_F(DriverTest, RowProgressShowsTitleAndPathCount) {
  MakeBitmapImage(100, 200);
  progressTitle = 32;
  lastShownRow = 9999;
  currentRow = 50;
  ShowRowProgress();
  EXPECT_FALSE(Progress().open) << "row progress is off at 9999";

  lastShownRow = -9999;
  gPathCount = 2;
  ShowRowProgress();
  EXPECT_EQ(Progress().percent, 25);
  EXPECT_EQ(Progress().text, "Outlining - 2 paths");
  EXPECT_EQ(lastShownRow, 50);

  gTicks += 100;
  currentRow = 51;  // still 25 %
  int shows = Progress().shows;
  ShowRowProgress();
  EXPECT_EQ(Progress().shows, shows);

  progressTitle = kStrLineRecognizing;  // two scans: rows and columns
  gPathCount = 1;
  gTicks += 100;
  currentRow = 150;
  ShowRowProgress();
  EXPECT_EQ(Progress().percent, 150 * 100 / (gImage->rowBits + 200));
  EXPECT_EQ(Progress().text, "Line Recognizing - 1 path");
  gPathCount = 0;
  ShowProgress(0, "");
  progressTitle = 0;
  lastShownRow = 9999;
}

// Centerline strokes take the paint the driver sets for them (black, or
// white with White Lines), whatever the outline pass traced before them: a
// ring leaves a white hole as the last outline, a solid square a black one.
TEST_F(DriverTest, CenterlineStrokesKeepTheirPaintAfterAnyOutline) {
  const struct {
    const char* name;
    uint8_t methods;
    bool ring, whiteLines;
  } cases[] = {
      {"outline + centerline, line and ring", Method::outline | Method::centerline, true, false},
      {"outline + centerline, line and square", Method::outline | Method::centerline, false, false},
      {"centerline, line and ring", Method::centerline, true, false},
      {"outline + centerline, white lines, ring", Method::outline | Method::centerline, true, true},
      {"outline + centerline, white lines, square", Method::outline | Method::centerline, false, true},
      {"centerline, white lines, ring", Method::centerline, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MakeBitmapImage(200, 120);
    FillRect(10, 10, 180, 12);  // a thin line above the shape
    FillRect(50, 30, 150, 110);
    if (c.ring)
      for (int y = 60; y < 80; ++y)
        for (int x = 90; x < 110; ++x) SetWorkPixel(x, y, 0);
    if (c.whiteLines)  // white ink on black
      for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 200; ++x) SetWorkPixel(x, y, !WorkPixel(x, y));
    gDocument->imageWindow = reinterpret_cast<WindowHandle>(this);
    gConvSettings->methodFlags = c.methods;
    gConvSettings->optionFlags = c.whiteLines ? Option::whiteLines : 0;
    ConvertImage(false);
    const uint8_t black[4] = {0, 0, 0, 0xFF}, white[4] = {0, 0, 0, 0};
    int strokes = 0;
    for (int32_t i = 0; i < gPathCount; ++i) {
      const PathRecord& r = gPaths[i];
      if (!(r.pathFlags & PathFlag::openPath)) continue;
      ++strokes;
      EXPECT_EQ(r.strokeKind, c.whiteLines ? kPaintWhite : kPaintBlack) << "path " << i;
      EXPECT_EQ(memcmp(r.strokeColor, c.whiteLines ? white : black, 4), 0) << "path " << i;
      EXPECT_EQ(r.fillKind, kPaintNone) << "path " << i;
    }
    EXPECT_GT(strokes, 0);
    DeleteAllPaths();
    CloseDocument();
  }
}

// The paint and flags that the conversion gives a new path: the tracing
// mode makes it open (not in color mode) or grouped, the stroke width is the
// conversion's, Convert Selection Edge strokes centerlines black.
TEST_F(DriverTest, ConversionPathsTakeTheirPaintFromTheConversionState) {
  MakeBitmapImage(32, 32);
  ASSERT_TRUE(ResetPathStore().ok());
  struct Case {
    int16_t mode, colorMode;
    double width;
    uint8_t flags, weight;
  } cases[] = {{0, 0, 0, 0, 0},
               {1, 0, 1.25, PathFlag::openPath, 12},
               {-1, 0, 30, PathFlag::openPath | PathFlag::grouped, 255},
               {1, 1, 0, 0, 0},
               {-1, 1, 0, PathFlag::grouped, 0}};
  for (const Case& c : cases) {
    colorMode = c.colorMode;
    curStrokeWidth = c.width;
    curFillColor = 0x11223344u;
    curFillKind = kPaintProcess;
    curStrokeKind = kPaintBlack;
    penX = penY = 1;
    BeginConversionPath(c.mode);
    const PathRecord& r = gPaths[gPathCount - 1];
    EXPECT_EQ(r.pathFlags, c.flags) << c.mode;
    EXPECT_EQ(r.strokeWeight, c.weight) << c.mode;
    EXPECT_EQ(r.fillKind, kPaintProcess);
    EXPECT_EQ(r.strokeKind, kPaintBlack);
    const uint8_t cmyk[4] = {0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(memcmp(r.fillColor, cmyk, 4), 0);
    EXPECT_EQ(memcmp(r.strokeColor, cmyk, 4), 0) << "the stroke starts in the fill color";
  }
  colorMode = 0;
  gDocument->Set(Flag::convertEdgeOnly);
  gConvSettings->methodFlags |= Method::centerline;
  BeginConversionPath(1);
  const PathRecord& edge = gPaths[gPathCount - 1];
  EXPECT_EQ(edge.fillKind, kPaintNone);
  EXPECT_EQ(edge.strokeKind, kPaintBlack);
  const uint8_t black[4] = {0, 0, 0, 0xFF};
  EXPECT_EQ(memcmp(edge.strokeColor, black, 4), 0);
  gDocument->Clear(Flag::convertEdgeOnly);
  curFillColor = 0xFF000000u;
  curFillKind = kPaintBlack;
  curStrokeKind = kPaintNone;
  curStrokeWidth = 0;
}

}  // namespace
