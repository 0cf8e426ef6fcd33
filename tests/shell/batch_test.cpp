// The batch list and the batch run: output names, the existing-file prompt,
// the duplicate-name warning, the destination, stopping and cancelling.
#include <string>
#include <vector>

#include "platform/string_ids.h"
#include "shell/batch.h"
#include "shell/document.h"
#include "shell/prefs.h"
#include "tests/support/support.h"

namespace {

struct Item {
  std::string source, output;
  int status;
};
std::vector<Item> gItems;
void Collect(const BatchItemReport& r) { gItems.push_back({r.source, r.output, r.status}); }

std::vector<int> gDialogScript;  // answers of the selection and destination hooks, in order
std::vector<std::string> gDialogCalls;
int NextDialogAnswer(const char* which) {
  gDialogCalls.push_back(which);
  if (gDialogScript.empty()) return 0;
  int a = gDialogScript.front();
  gDialogScript.erase(gDialogScript.begin());
  return a;
}
int ScriptedSelect() { return NextDialogAnswer("select"); }
int ScriptedDestination() { return NextDialogAnswer("destination"); }
std::vector<bool> gToolboxCalls;
void RecordToolbox(bool show) { gToolboxCalls.push_back(show); }

class BatchTest : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    DefaultPrefsRecord(gPrefs);
    CopyName(gPrefs->scratchFolder, Dir().c_str());
    gBatchHooks = BatchHooks{ScriptedSelect, ScriptedDestination, RecordToolbox, Collect, nullptr};
    gItems.clear();
    gDialogScript.clear();
    gDialogCalls.clear();
    gToolboxCalls.clear();
    MakeFolder((Dir() + "in/").c_str());
    MakeFolder((Dir() + "out/").c_str());
    CopyName(gDocument->batchDestFolder, (Dir() + "out/").c_str());
  }
  void TearDown() override {
    ClearBatchList();
    InstallHeadlessBatchHooks();
    TessTest::TearDown();
  }
  std::string In() const { return Dir() + "in/"; }
  std::string Out() const { return Dir() + "out/"; }
  std::vector<std::string> ListedNames() const {
    std::vector<std::string> names;
    for (int i = 0; i < BatchCount(); ++i) names.push_back(BatchEntryAt(i)->name);
    return names;
  }
};

TEST_F(BatchTest, OutputNameFollowsTheFormat) {
  struct Case {
    int16_t format, preview;
    const char* image;
    const char* art;
  } cases[] = {
      {3, 1, "scan.tif", "scan.eps"},  {3, 4, "scan.tif", "scan.eps"}, {3, 0, "scan.tif", "scan.qv"},
      {4, 1, "scan.tif", "scan.emf"},  {5, 1, "scan.tif", "scan.dxf"}, {5, 0, "scan", "scan.dxf"},
      {3, 1, "a.b.pcx", "a.b.eps"},
  };
  for (const Case& c : cases) {
    gPrefs->outputFormat = c.format;
    gPrefs->previewKind = c.preview;
    char art[kNameBufferSize];
    ASSERT_TRUE(BatchOutputName(c.image, art));
    EXPECT_STREQ(art, c.art);
  }
  std::string longName(251, 'x');
  char art[kNameBufferSize];
  EXPECT_FALSE(BatchOutputName((longName + ".tif").c_str(), art));  // ".eps" would not fit
}

TEST_F(BatchTest, ListKeepsEachFileOnceAndHandsThemOutInOrder) {
  EXPECT_TRUE(AddBatchEntry(In().c_str(), "a.tif").ok());
  EXPECT_FALSE(AddBatchEntry(In().c_str(), "a.tif").ok());
  EXPECT_TRUE(AddBatchEntry(Out().c_str(), "a.tif").ok());  // same name, other folder
  EXPECT_TRUE(AddBatchEntry((Dir() + "in").c_str(), "b.pcx").ok());  // the separator is added
  EXPECT_FALSE(AddBatchEntry(In().c_str(), "b.pcx").ok());
  EXPECT_EQ(gDocument->batchFileCount, 3);

  char path[kNameBufferSize], folder[kNameBufferSize];
  ASSERT_TRUE(TakeNextBatchItem(path, folder));
  EXPECT_STREQ(path, "a.tif");
  EXPECT_EQ(std::string(folder), In());
  EXPECT_EQ(gImage->sourceType, kSourceTiff);
  RemoveBatchEntry(0);
  ASSERT_TRUE(TakeNextBatchItem(path, folder));
  EXPECT_STREQ(path, "b.pcx");
  EXPECT_EQ(gImage->sourceType, kSourcePcx);
  EXPECT_FALSE(TakeNextBatchItem(path, folder));
  EXPECT_EQ(BatchCount(), 0);

  // Growing the list without memory: message 237, the entry is not added.
  for (int i = 0; i < 16; ++i) {
    char name[8];
    snprintf(name, sizeof name, "f%d", i);
    ASSERT_TRUE(AddBatchEntry(In().c_str(), name).ok());
  }
  MemFailNext(1);
  EXPECT_FALSE(AddBatchEntry(In().c_str(), "more.tif").ok());
  EXPECT_EQ(MessageIds(), std::vector<int>{237});
  EXPECT_EQ(BatchCount(), 16);
}

TEST_F(BatchTest, DuplicateNamesAreReportedInUpperCase) {
  AddBatchEntry(In().c_str(), "a.tif");
  AddBatchEntry(Out().c_str(), "a.pcx");
  ScriptAnswers({kAnswerNo});
  EXPECT_FALSE(BatchDuplicateCheck());
  ASSERT_EQ(MessageLog().size(), 1u);
  EXPECT_EQ(MessageLog()[0].id, 149);
  EXPECT_NE(MessageLog()[0].text.find("another (A)."), std::string::npos);
  ScriptAnswers({kAnswerYes});
  EXPECT_TRUE(BatchDuplicateCheck());

  ClearBatchList();
  ClearMessageLog();
  AddBatchEntry(In().c_str(), "A.tif");
  AddBatchEntry(In().c_str(), "a.tif");  // case matters
  AddBatchEntry(In().c_str(), "a.b.tif");  // "a.b" is not "a"
  EXPECT_TRUE(BatchDuplicateCheck());
  EXPECT_TRUE(MessageLog().empty());
}

TEST_F(BatchTest, ExistingOutputPromptSkipCancelAndReplace) {
  WriteFileBytes(Out() + "one.eps", "old art");
  AddBatchEntry(In().c_str(), "one.tif");
  AddBatchEntry(In().c_str(), "two.tif");

  // Cancel: the loop ends; the item taken is gone, the rest stays listed,
  // and the run is not over yet (the selection comes back within it).
  ScriptAnswers({kAnswerCancel});
  EXPECT_EQ(RunBatchList(), kBatchCancelled);
  EXPECT_EQ(ListedNames(), (std::vector<std::string>{"two.tif"}));
  ASSERT_EQ(MessageLog().size(), 1u);
  EXPECT_EQ(MessageLog()[0].id, kStrFileAlreadyExists);
  EXPECT_EQ(MessageLog()[0].text, "A file already exists with the name:\n" + Out() + "one.eps");
  EXPECT_TRUE(gItems.empty());
  EXPECT_TRUE(gDocument->Test(Flag::batchRunning));
  gDocument->Clear(Flag::batchRunning);

  // Skip: the item is dropped unprocessed, the run goes on.
  AddBatchEntry(In().c_str(), "one.tif");
  ScriptAnswers({kAnswerNo});
  EXPECT_EQ(RunBatchList(), kBatchDone);
  ASSERT_EQ(gItems.size(), 2u);
  EXPECT_EQ(gItems[0].source, In() + "two.tif");
  EXPECT_EQ(gItems[0].status, kItemOpenFailed);  // no such image
  EXPECT_EQ(gItems[1].status, kItemSkipped);
  EXPECT_EQ(gItems[1].output, Out() + "one.eps");
  EXPECT_EQ(ReadFileBytes(Out() + "one.eps"), "old art");
  EXPECT_EQ(BatchCount(), 0);
  gDocument->Clear(Flag::batchRunning);

  // "Replace Files With Same Name": no prompt at all.
  gItems.clear();
  ClearMessageLog();
  gPrefs->flags1 |= PrefFlag::batchReplaceFiles;
  AddBatchEntry(In().c_str(), "one.tif");
  EXPECT_EQ(RunBatchList(), kBatchDone);
  for (int id : MessageIds()) EXPECT_NE(id, kStrFileAlreadyExists);
  ASSERT_EQ(gItems.size(), 1u);
  EXPECT_NE(gItems[0].status, kItemSkipped);
}

TEST_F(BatchTest, OutputGoesToTheSourceFolderWhenAsked) {
  gPrefs->flags0 |= PrefFlag::batchToSourceFolder;
  gPrefs->outputFormat = 5;
  AddBatchEntry(In().c_str(), "scan.tif");
  EXPECT_EQ(RunBatchList(), kBatchDone);
  ASSERT_EQ(gItems.size(), 1u);
  EXPECT_EQ(gItems[0].output, In() + "scan.dxf");
  EXPECT_EQ(std::string(gImage->outputFolder), In());
}

TEST_F(BatchTest, UnreadableFilesShowNoMessageAndTheRunGoesOn) {
  WriteFileBytes(In() + "broken.tif", "II*\0garbage");
  WriteFileBytes(In() + "empty.pcx", "");
  AddBatchEntry(In().c_str(), "broken.tif");
  AddBatchEntry(In().c_str(), "empty.pcx");
  EXPECT_EQ(RunBatchList(), kBatchDone);
  ASSERT_EQ(gItems.size(), 2u);
  EXPECT_EQ(gItems[0].status, kItemOpenFailed);
  EXPECT_EQ(gItems[1].status, kItemOpenFailed);
  EXPECT_EQ(MessageIds(), std::vector<int>{});
  EXPECT_FALSE(FileExists((Out() + "broken.eps").c_str()));
}

TEST_F(BatchTest, RunBatchGoesBackToTheSelection) {
  gDocument->Set(Flag::toolboxVisible);
  AddBatchEntry(In().c_str(), "a.tif");
  // Destination cancelled: back to the selection with the same list; then
  // the selection is cancelled, which empties the list.
  gDialogScript = {1, 0, 0};
  RunBatch();
  EXPECT_EQ(gDialogCalls, (std::vector<std::string>{"select", "destination", "select"}));
  EXPECT_EQ(BatchCount(), 0);
  EXPECT_TRUE(gItems.empty());
  EXPECT_TRUE(gToolboxCalls.empty());  // nothing ran, the toolbox stayed

  // A run: the toolbox is hidden for it and shown again afterwards.
  gDialogCalls.clear();
  AddBatchEntry(In().c_str(), "a.tif");
  gDialogScript = {1, 1};
  RunBatch();
  EXPECT_EQ(gDialogCalls, (std::vector<std::string>{"select", "destination"}));
  EXPECT_EQ(gItems.size(), 1u);
  EXPECT_EQ(gToolboxCalls, (std::vector<bool>{false, true}));
  EXPECT_TRUE(gDocument->Test(Flag::toolboxVisible));
  EXPECT_FALSE(gDocument->Test(Flag::batchRunning));
}

// Cancel at the existing-file prompt goes back to the selection with the
// entries after the one taken; the run, and batchRunning, last until the
// selection is left.
std::vector<bool> gRunningAtSelect;

TEST_F(BatchTest, CancelAtThePromptReturnsToTheSelectionWithinTheRun) {
  gRunningAtSelect.clear();
  WriteFileBytes(Out() + "one.eps", "old art");
  for (const char* name : {"one.tif", "two.tif", "three.tif"}) AddBatchEntry(In().c_str(), name);
  gDialogScript = {1, 1, 0};  // select, destination, then the selection is cancelled
  ScriptAnswers({kAnswerCancel});
  // The second selection sees the remaining entries; it is then cancelled.
  gBatchHooks.selectDialog = [] {
    gRunningAtSelect.push_back(gDocument->Test(Flag::batchRunning));
    if (gRunningAtSelect.size() == 2) {
      EXPECT_EQ(BatchCount(), 2);
      EXPECT_STREQ(BatchEntryAt(0)->name, "two.tif");
    }
    return ScriptedSelect();
  };
  RunBatch();
  EXPECT_EQ(gDialogCalls, (std::vector<std::string>{"select", "destination", "select"}));
  EXPECT_EQ(gRunningAtSelect, (std::vector<bool>{false, true}));
  EXPECT_FALSE(gDocument->Test(Flag::batchRunning));
  EXPECT_TRUE(gItems.empty());
  EXPECT_EQ(ReadFileBytes(Out() + "one.eps"), "old art");
}

// A backend that keeps the batch line of every progress change and presses
// Escape once the progress of the n-th conversion shows.
std::vector<std::string> gBatchLines;
int gStopInConversion = 0;  // 0: never
int gConversionsSeen = 0;
bool gEscapePending = false;
int AnswerDefault(int, int kind, const char*) { return kind == kMessageWarning ? kAnswerOK : kAnswerYes; }
void NoBeep() {}
void WatchProgress(const ProgressModel& m) {
  if (!m.open || m.batchText.empty()) return;
  if (gBatchLines.empty() || gBatchLines.back() != m.batchText) {
    gBatchLines.push_back(m.batchText);
    if (++gConversionsSeen == gStopInConversion) gEscapePending = true;
  }
}
PumpResult PumpEscape() {
  PumpResult r;
  r.escape = gEscapePending;
  gEscapePending = false;
  return r;
}
uint32_t gTicks = 0;
uint32_t FastTicks() { return gTicks += 100; }

class BatchRunTest : public BatchTest {
 protected:
  void SetUp() override {
    BatchTest::SetUp();
    gBatchLines.clear();
    gStopInConversion = gConversionsSeen = 0;
    gEscapePending = false;
    InstallBackend(PlatformBackend{AnswerDefault, NoBeep, WatchProgress, PumpEscape});
    SetTickSource(FastTicks);
    std::string data = SourceDir() + "/tests/cli/data/";
    WriteFileBytes(In() + "first.tif", ReadFileBytes(data + "drawing.tif"));
    WriteFileBytes(In() + "broken.tif", "II*\0 not really");
    WriteFileBytes(In() + "third.pcx", ReadFileBytes(data + "drawing.pcx"));
    for (const char* name : {"first.tif", "broken.tif", "third.pcx"}) AddBatchEntry(In().c_str(), name);
  }
  void TearDown() override {
    InstallHeadlessBackend();
    BatchTest::TearDown();
  }
};

TEST_F(BatchRunTest, MixedListConvertsTheGoodFiles) {
  gPrefs->outputFormat = 5;
  EXPECT_EQ(RunBatchList(), kBatchDone);
  ASSERT_EQ(gItems.size(), 3u);
  EXPECT_EQ(gItems[0].status, kItemSaved);
  EXPECT_EQ(gItems[1].status, kItemOpenFailed);
  EXPECT_EQ(gItems[2].status, kItemSaved);
  EXPECT_EQ(ReadFileBytes(Out() + "first.dxf").compare(0, 10, "0\r\nSECTION"), 0);
  EXPECT_TRUE(FileExists((Out() + "third.dxf").c_str()));
  EXPECT_FALSE(FileExists((Out() + "broken.dxf").c_str()));
  // No reader message and no save question; the curve warning of DXF output
  // is not shown in a batch either.
  EXPECT_EQ(MessageIds(), std::vector<int>{});
  // The progress window counts the entries still listed.
  EXPECT_EQ(gBatchLines, (std::vector<std::string>{"Files to go: 2", "Files to go: 0"}));
  EXPECT_EQ(Progress().title, "Progress");
  EXPECT_FALSE(gDocument->imageWindow);  // every document was closed
}

// The art's title is the art file's name alone, not the path it is saved
// under.
TEST_F(BatchRunTest, SavedArtIsTitledWithTheFileNameAlone) {
  ClearBatchList();
  AddBatchEntry(In().c_str(), "first.tif");
  for (int preview : {0, 1}) {
    SCOPED_TRACE(preview);
    gPrefs->outputFormat = 3;
    gPrefs->previewKind = static_cast<int16_t>(preview);
    gPrefs->flags1 |= PrefFlag::batchReplaceFiles;
    if (preview) AddBatchEntry(In().c_str(), "first.tif");
    EXPECT_EQ(RunBatchList(), kBatchDone);
    std::string name = preview ? "first.eps" : "first.qv";
    std::string art = ReadFileBytes(Out() + name);
    EXPECT_NE(art.find("%%Title: (" + name + ")"), std::string::npos);
    EXPECT_EQ(art.find("%%Title: (" + Out()), std::string::npos);
  }
}

TEST_F(BatchRunTest, ArtNeverReplacesAListedImage) {
  // An EPS read through its preview would get its own art, and scan.tif's
  // art would replace the listed scan.eps: both are refused, both survive.
  ClearBatchList();
  std::string eps = ReadFileBytes(SourceDir() + "/tests/fixtures/raster/eps-preview.tif");
  WriteFileBytes(In() + "scan.eps", eps);
  WriteFileBytes(In() + "scan.tif", ReadFileBytes(In() + "first.tif"));
  for (const char* name : {"scan.tif", "scan.eps", "third.pcx"}) AddBatchEntry(In().c_str(), name);
  gPrefs->flags0 |= PrefFlag::batchToSourceFolder;
  gPrefs->flags1 |= PrefFlag::batchReplaceFiles;
  gPrefs->previewKind = 1;
  EXPECT_EQ(RunBatchList(), kBatchDone);
  ASSERT_EQ(gItems.size(), 3u);
  EXPECT_EQ(gItems[0].status, kItemOutputIsInput);
  EXPECT_EQ(gItems[1].status, kItemOutputIsInput);
  EXPECT_EQ(gItems[2].status, kItemSaved);
  EXPECT_EQ(ReadFileBytes(In() + "scan.eps"), eps);
  EXPECT_TRUE(MessageIds().empty());
}

TEST_F(BatchRunTest, AFailedSaveKeepsTheArtFileThatWasThere) {
  gPrefs->flags1 |= PrefFlag::batchReplaceFiles;
  WriteFileBytes(Out() + "first.eps", "the old art");
  FileFailWritesAfter(200);
  // A full disk sets the abort flag, which ends the run like a stop.
  EXPECT_EQ(RunBatchList(), kBatchStopped);
  FileFailWritesAfter(-1);
  ASSERT_EQ(gItems.size(), 1u);
  EXPECT_EQ(MessageIds(), std::vector<int>{12});
  EXPECT_EQ(ReadFileBytes(Out() + "first.eps"), "the old art");
  EXPECT_EQ(FolderEntries(Out()), std::vector<std::string>{"first.eps"}) << "no partial art is left";
}

TEST_F(BatchRunTest, StopEndsTheRunAndKeepsTheRest) {
  gStopInConversion = 1;
  EXPECT_EQ(RunBatchList(), kBatchStopped);
  ASSERT_EQ(gItems.size(), 1u);
  EXPECT_EQ(gItems[0].status, kItemStopped);
  EXPECT_FALSE(FileExists((Out() + "first.eps").c_str()));
  EXPECT_EQ(ListedNames(), (std::vector<std::string>{"broken.tif", "third.pcx"}));

  // The next run picks up where the stop left off.
  gItems.clear();
  EXPECT_EQ(RunBatchList(), kBatchDone);
  ASSERT_EQ(gItems.size(), 2u);
  EXPECT_EQ(gItems[1].status, kItemSaved);
  EXPECT_TRUE(FileExists((Out() + "third.eps").c_str()));
}

}  // namespace
