// The shared records and the document: pixel reads at the edges, the art
// scale, undo names, the open sequence's failure path and the save questions.
#include <unistd.h>

#include <cstring>
#include <string>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "engine/thinning.h"
#include "raster/sample_store.h"
#include "platform/string_ids.h"
#include "shell/document.h"
#include "tests/support/support.h"

namespace {

using RecordsTest = TessTest;

TEST_F(RecordsTest, PixelsOutsideTheImageReadWhite) {
  MakeBitmapImage(10, 3);
  FillRect(0, 0, 10, 3);
  EXPECT_EQ(WorkPixel(0, 0), 1);
  EXPECT_EQ(WorkPixel(9, 2), 1);
  for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {0, 3}, {gImage->rowBits, 0}, {5, 1000}})
    EXPECT_EQ(WorkPixel(x, y), 0) << x << "," << y;
  // The guard rows are part of the block and blank.
  for (int i = 0; i < gImage->rowBytes; ++i) {
    EXPECT_EQ(gWorkBits[-gImage->rowBytes + i], 0);
    EXPECT_EQ(gWorkBits[3 * gImage->rowBytes + i], 0);
  }
}

TEST_F(RecordsTest, ArtScaleBringsTheLargerSideToSixteenThousand) {
  struct Case {
    int rowBits, height, shift;
  } cases[] = {{4000, 100, 2}, {100, 4000, 2}, {16000, 10, 0}, {15999, 10, 1}, {32, 32, 9}, {8000, 8000, 1}};
  for (const Case& c : cases) {
    gImage->rowBits = static_cast<int16_t>(c.rowBits);
    gImage->height = static_cast<int16_t>(c.height);
    ComputeArtScale();
    EXPECT_EQ(gArtScaleShift, c.shift) << c.rowBits << "x" << c.height;
    EXPECT_EQ(gArtScale, double(1 << c.shift));
  }
}

TEST_F(RecordsTest, UndoKindNames) {
  EXPECT_STREQ(UndoKindName(0), "Cannot Undo");
  EXPECT_STREQ(UndoKindName(21), "Convert");
  EXPECT_STREQ(UndoKindName(-26), "Thin More");
  EXPECT_STREQ(UndoKindName(28), "");
  EXPECT_STREQ(UndoKindName(33), "Convert to Rectangle");
  EXPECT_STREQ(UndoKindName(34), "");
}

TEST_F(RecordsTest, FlagBitsSitWhereTheyAreDocumented) {
  gDocument->Set(Flag::busy);
  gDocument->Set(Flag::writingClipboard);
  gDocument->Set(Flag::batchRunning);
  EXPECT_EQ(gDocument->flags[1], 0x02);
  EXPECT_EQ(gDocument->flags[4], 0x08);
  EXPECT_EQ(gDocument->flags[5], 0x01);
  gDocument->Clear(Flag::busy);
  EXPECT_FALSE(gDocument->Test(Flag::busy));
}

class DocumentTest : public TessTest {
 protected:
  void TearDown() override {
    CloseDocument();
    InstallHeadlessShellHooks();
    TessTest::TearDown();
  }
  // A document as if an image had been opened, with one path of art.
  void OpenWithArt() {
    MakeBitmapImage(50, 50);
    gDocument->imageWindow = reinterpret_cast<WindowHandle>(this);
    strcpy(gImage->path, "/images/drawing.tif");
    strcpy(gImage->docName, (Dir() + "drawing.eps").c_str());
    ResetPathStore();
    penX = penY = 1;
    BeginPath(PathPaint{});
    penX = 20;
    AddPathPoint(0);
    gDocument->Set(Flag::artModified);
  }
};

TEST_F(DocumentTest, UnopenableFileKeepsTheCurrentDocument) {
  OpenWithArt();
  strcpy(gImage->path, (Dir() + "missing.tif").c_str());
  EXPECT_FALSE(OpenDocument(nullptr).ok());
  ASSERT_EQ(MessageIds(), std::vector<int>{160});
  EXPECT_EQ(MessageLog()[0].text, "Error 2 opening input file.");
  EXPECT_NE(gDocument->imageWindow, nullptr) << "the open document stays";
  EXPECT_EQ(gPathCount, 1);
}

TEST_F(DocumentTest, ABatchPathLongerThanItsBufferIsSkipped) {
  // The folder and the name together overflow the name buffer; the item is
  // skipped without a message, like any file a batch cannot open.
  gDocument->Set(Flag::batchRunning);
  strcpy(gImage->sourceFolder, (std::string(200, 'f') + "/").c_str());
  strcpy(gImage->path, (std::string(60, 'n') + ".tif").c_str());
  EXPECT_FALSE(OpenDocument(nullptr).ok());
  EXPECT_TRUE(MessageIds().empty());
  EXPECT_EQ(gDocument->imageWindow, nullptr);
}

TEST_F(DocumentTest, ABatchSkipsAnUnopenableFileSilently) {
  gDocument->Set(Flag::batchRunning);
  strcpy(gImage->sourceFolder, Dir().c_str());
  strcpy(gImage->path, "missing.tif");
  EXPECT_FALSE(OpenDocument(nullptr).ok());
  EXPECT_TRUE(MessageIds().empty());
}

TEST_F(DocumentTest, ReaderFailureLeavesNoDocumentAndNothingAllocated) {
  OpenWithArt();
  std::string path = PathIn("image.xyz");
  WriteFileBytes(path, "not an image");
  strcpy(gImage->path, path.c_str());
  gImage->sourceType = -1;
  EXPECT_FALSE(OpenDocument(nullptr).ok());
  EXPECT_EQ(gDocument->imageWindow, nullptr);
  EXPECT_EQ(gImage->fileHandle, kNoFile);
  EXPECT_EQ(gWorkBits, nullptr);
  EXPECT_EQ(gPathCount, 0);
  EXPECT_FALSE(gDocument->Test(Flag::busy));
}

TEST_F(DocumentTest, SaveQuestionAnswers) {
  struct Case {
    int answer;
    Status result;
  } cases[] = {{kAnswerNo, Done()}, {kAnswerCancel, Cancelled()}};
  for (const Case& c : cases) {
    OpenWithArt();
    ClearMessageLog();
    ScriptAnswers({c.answer});
    EXPECT_EQ(AskSaveArt(1), c.result);
    ASSERT_EQ(MessageIds(), std::vector<int>{43});
    EXPECT_EQ(MessageLog()[0].text, "Save changes to the Quenda Tessary document \"drawing.eps\" before closing?");
    CloseDocument();
  }
}

TEST_F(DocumentTest, NothingToAskWithoutChangedArt) {
  EXPECT_TRUE(AskSaveArt(1).ok()) << "no document";
  OpenWithArt();
  gDocument->Clear(Flag::artModified);
  EXPECT_TRUE(AskSaveArt(1).ok());
  gDocument->Set(Flag::artModified);
  gDocument->Set(Flag::batchRunning);
  gShellHooks.saveArtAsDialog = [] { return Cancelled(); };
  AskSaveArt(1);
  EXPECT_TRUE(MessageIds().empty()) << "a batch never asks";
}

TEST_F(DocumentTest, UntitledArtAsksForANameAndStopsWhenCancelled) {
  OpenWithArt();
  gDocument->Set(Flag::artUntitled);
  gShellHooks.saveArtAsDialog = [] { return Cancelled(); };
  ScriptAnswers({kAnswerYes});
  EXPECT_FALSE(AskSaveArt(1).ok());
}

TEST_F(DocumentTest, AFailedSaveKeepsTheArtModified) {
  OpenWithArt();
  gDocument->Clear(Flag::artUntitled);
  strcpy(gImage->docName, (Dir() + "no/such/folder/art.eps").c_str());
  ScriptAnswers({kAnswerYes});
  EXPECT_FALSE(AskSaveArt(1).ok());
  EXPECT_TRUE(gDocument->Test(Flag::artModified)) << "the next Close asks again";
}

// What the save dialogs of the test answer: the chosen name.
std::string gChosenName;
int gPixelWrites = 0;

TEST_F(DocumentTest, NoSaveReplacesTheImageBeingConverted) {
  std::string image = PathIn("page.tif");
  std::string bytes = ReadFileBytes(SourceDir() + "/tests/cli/data/drawing.tif");
  WriteFileBytes(image, bytes);
  ASSERT_EQ(link(image.c_str(), PathIn("link.tif").c_str()), 0);
  strcpy(gImage->path, image.c_str());
  gImage->sourceType = kSourceTiff;
  ASSERT_TRUE(OpenDocument(nullptr).ok());
  ConvertImage(false);
  ASSERT_GT(gPathCount, 0);
  strcpy(gImage->docName, PathIn("page.eps").c_str());
  gShellHooks.saveArtAsDialog = [] { return CopyName(gImage->docName, gChosenName.c_str()) ? Done() : Cancelled(); };
  gShellHooks.savePixelImageDialog = [](char* path) {
    return CopyName(path, gChosenName.c_str()) ? Done() : Cancelled();
  };
  gShellHooks.writePixelImage = [](const char*) {
    ++gPixelWrites;
    return Done();
  };

  // The image's own file by its name, through a link, and spelled otherwise.
  for (const std::string& name : {image, PathIn("link.tif"), Dir() + "./page.tif"}) {
    SCOPED_TRACE(name);
    ClearMessageLog();
    gChosenName = name;
    EXPECT_FALSE(SaveArtAs().ok());
    EXPECT_EQ(std::string(gImage->docName), PathIn("page.eps")) << "the art keeps its name";
    EXPECT_FALSE(SavePixelImageAs().ok());
    EXPECT_EQ(gPixelWrites, 0);
    ASSERT_EQ(MessageIds(), (std::vector<int>{kStrOutputIsInput, kStrOutputIsInput}));
    EXPECT_EQ(MessageLog()[0].text, "Can't replace \"" + name +
                                        "\" because it is an input file. Choose another name for the output.");
    // Save Art with such a name (an untitled art's first save) is refused too.
    strcpy(gImage->docName, name.c_str());
    EXPECT_FALSE(AskSaveArt(0).ok());
    EXPECT_TRUE(gDocument->Test(Flag::artModified));
    strcpy(gImage->docName, PathIn("page.eps").c_str());
  }
  EXPECT_EQ(ReadFileBytes(image), bytes);

  // Another name is written as usual.
  ClearMessageLog();
  gChosenName = PathIn("art.eps");
  EXPECT_TRUE(SaveArtAs().ok());
  EXPECT_TRUE(FileExists(PathIn("art.eps").c_str()));
  gChosenName = PathIn("copy.tif");
  EXPECT_TRUE(SavePixelImageAs().ok());
  EXPECT_EQ(gPixelWrites, 1);
  EXPECT_TRUE(MessageIds().empty());
}

TEST_F(DocumentTest, PixelImageQuestionOnlyForChangedPixels) {
  OpenWithArt();
  EXPECT_TRUE(AskSavePixelImage().ok());
  EXPECT_TRUE(MessageIds().empty());
  gDocument->Set(Flag::pixelModified);
  ScriptAnswers({kAnswerCancel});
  EXPECT_FALSE(AskSavePixelImage().ok());
  EXPECT_EQ(MessageLog().back().text, "Save changes to the pixel image \"drawing.eps\" before closing?");
  ScriptAnswers({kAnswerYes});
  gShellHooks.savePixelImageDialog = [](char*) { return Cancelled(); };
  EXPECT_FALSE(AskSavePixelImage().ok()) << "a cancelled dialog stops the close";
}

TEST_F(DocumentTest, RevertOnlyForImagesWithAFile) {
  OpenWithArt();
  EXPECT_FALSE(RevertDocument().ok());
  EXPECT_TRUE(MessageIds().empty()) << "an acquired or pasted image offers no revert";
  gDocument->Set(Flag::imageHasFile);
  ScriptAnswers({kAnswerNo});
  EXPECT_FALSE(RevertDocument().ok());
  EXPECT_EQ(MessageIds(), std::vector<int>{260});
}

TEST_F(DocumentTest, UndoOfConvertMovesTheArtAsideAndBack) {
  OpenWithArt();
  RecordUndo(kUndoConvert);
  EXPECT_EQ(gDocument->undoKind, kUndoConvert);
  UndoRedo();
  EXPECT_EQ(gPathCount, 0);
  EXPECT_EQ(gDocument->undoKind, -kUndoConvert);
  UndoRedo();
  EXPECT_EQ(gPathCount, 1);
  EXPECT_EQ(CountAnchors(&gPaths[0]), 2);
  EXPECT_EQ(gDocument->undoKind, kUndoConvert);
}

TEST_F(DocumentTest, UndoOfAPathEditRestoresTheCopy) {
  OpenWithArt();
  RecordUndo(kUndoDelete);
  DeletePath(&gPaths[0]);
  EXPECT_EQ(gPathCount, 0);
  UndoRedo();
  ASSERT_EQ(gPathCount, 1);
  EXPECT_EQ(gPaths[0].pointCount, 4);
  UndoRedo();
  EXPECT_EQ(gPathCount, 0);
}

TEST_F(DocumentTest, SelectionUndoOfArtIsNotOffered) {
  OpenWithArt();
  RecordUndo(kUndoMarquee);
  EXPECT_EQ(gDocument->undoKind, kUndoNone);
}

// A pixel edit's Undo is offered only while the image window has not yet
// committed the edit: once its pending flag is gone the kind becomes 0.
// Every step that is taken marks the art as modified.
TEST_F(DocumentTest, PixelUndoKindsFollowTheirPendingFlag) {
  const struct {
    int kind;
    DocFlag pending;
  } kinds[] = {{kUndoPencil, Flag::pixelUndoPending}, {kUndoEraser, Flag::pixelUndoPending},
               {kUndoLine, Flag::pixelUndoPending},   {kUndoLevels, Flag::levelsPending},
               {kUndoFill, Flag::fillUndoPending},    {kUndoClear, Flag::fillUndoPending}};
  for (const auto& k : kinds) {
    for (bool pending : {true, false}) {
      SCOPED_TRACE(std::to_string(k.kind) + (pending ? " pending" : " committed"));
      OpenWithArt();
      RecordUndo(k.kind);
      EXPECT_TRUE(gDocument->Test(k.pending));
      EXPECT_TRUE(gDocument->Test(Flag::pixelModified));
      if (!pending) gDocument->Clear(k.pending);  // the image window committed the edit
      gDocument->Clear(Flag::artModified);
      UndoRedo();
      EXPECT_EQ(gDocument->undoKind, pending ? -k.kind : 0);
      EXPECT_EQ(gDocument->Test(Flag::artModified), pending);
      gDocument->Clear(k.pending);
      DiscardUndo();
      CloseDocument();
    }
  }
}

// Undo of a Fill or Clear of a bilevel image ORs the backup plane (the
// pixels the edit took away) back into the working bitmap and ends the
// pending state.
TEST_F(DocumentTest, UndoOfAClearMergesTheBackupPlaneBack) {
  OpenWithArt();
  ASSERT_TRUE(AllocBackupBits());
  size_t bytes = static_cast<size_t>(gImage->rowBytes) * gImage->height;
  memset(gWorkBits, 0x0F, bytes);
  memset(gBackupBits, 0x30, bytes);
  RecordUndo(kUndoClear);
  UndoRedo();
  EXPECT_EQ(gDocument->undoKind, -kUndoClear);
  EXPECT_FALSE(gDocument->Test(Flag::fillUndoPending));
  for (size_t i = 0; i < bytes; ++i) ASSERT_EQ(gWorkBits[i], 0x3F) << i;
}

// Thin More: the snapshot keeps the skeleton and the step count; Undo puts
// them back, Redo takes the extra step's result again.
TEST_F(DocumentTest, UndoOfThinMoreRestoresTheStepCountAndSkeleton) {
  OpenWithArt();
  size_t bytes = static_cast<size_t>(gImage->rowBytes) * gImage->height;
  memset(gWorkBits, 0x7E, bytes);
  thinningStepsRun = 5;
  RecordUndo(kUndoThinMore);
  memset(gWorkBits, 0x18, bytes);  // the extra step thinned further
  thinningStepsRun = 6;
  UndoRedo();
  EXPECT_EQ(gDocument->undoKind, -kUndoThinMore);
  EXPECT_EQ(thinningStepsRun, 5);
  EXPECT_EQ(gWorkBits[0], 0x7E);
  UndoRedo();
  EXPECT_EQ(thinningStepsRun, 6);
  EXPECT_EQ(gWorkBits[bytes - 1], 0x18);
  DiscardUndo();
  EXPECT_EQ(gDocument->undoKind, kUndoNone);
  thinningStepsRun = 0;
}

// Discarding a snapshot first commits the image window's pending work: a
// stroke or a fill stays as drawn.
TEST_F(DocumentTest, DiscardingAnUndoCommitsThePendingWork) {
  OpenWithArt();
  for (int kind : {kUndoPencil, kUndoFill}) {
    RecordUndo(kind);
    DiscardUndo();
    EXPECT_FALSE(gDocument->Test(Flag::pixelUndoPending));
    EXPECT_FALSE(gDocument->Test(Flag::fillUndoPending));
    EXPECT_EQ(gDocument->undoKind, kUndoNone);
  }
}

// A new untitled document starts with the identity levels mapping.
TEST_F(DocumentTest, NewUntitledDocumentResetsTheLevels) {
  levelsTable[7] = 99;
  gDocument->Set(Flag::levelsPending);
  NewUntitledDocument();
  EXPECT_EQ(levelsTable[7], 7);
  EXPECT_FALSE(gDocument->Test(Flag::levelsPending));
}

TEST_F(DocumentTest, TitleNamesImageArtAndZoom) {
  OpenWithArt();
  gImage->resolutionX = 96;
  gImage->zoomX = gImage->zoomY = 65536;  // actual size
  EXPECT_STREQ(WindowTitle(), "drawing.tif - drawing.eps  <100%>");
  DeleteAllPaths();
  gImage->zoomX = 65536 / 2;
  EXPECT_STREQ(WindowTitle(), "drawing.tif  <50%>");
}

}  // namespace
