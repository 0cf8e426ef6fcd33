// The wrapper layer: name buffers, files with the short-write hook, memory
// handles with the failure hooks, ticks and the headless message services.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest-spi.h>

#include "platform/platform.h"
#include "tests/support/support.h"

using PlatformTest = TessTest;

TEST_F(PlatformTest, NameBuffersRefuseWhatDoesNotFit) {
  char buf[kNameBufferSize];
  std::string longest(kNameBufferSize - 1, 'a');
  EXPECT_TRUE(CopyName(buf, longest.c_str()));
  EXPECT_EQ(strlen(buf), size_t(kNameBufferSize - 1));
  EXPECT_FALSE(AppendName(buf, "b"));
  EXPECT_EQ(strlen(buf), size_t(kNameBufferSize - 1)) << "a refused append leaves the name as it was";
  EXPECT_FALSE(CopyName(buf, (longest + "x").c_str()));
  EXPECT_STREQ(buf, "") << "a refused copy leaves an empty name, never a cut one";
}

TEST_F(PlatformTest, FilesReadWriteSeekAndHandlesAreSmallAndReused) {
  std::string path = PathIn("f.bin");
  int16_t f = FileCreate(path.c_str());
  ASSERT_GT(f, 0);
  EXPECT_EQ(FileWrite(f, "hello world", 11), 11);
  EXPECT_EQ(FileLength(f), 11);
  EXPECT_EQ(FileSeek(f, 6, kSeekSet), 6);
  char buf[8] = {};
  EXPECT_EQ(FileRead(f, buf, 8), 5) << "a read past the end returns what there is";
  EXPECT_STREQ(buf, "world");
  EXPECT_EQ(FileClose(f), 0);
  EXPECT_EQ(FileClose(f), -1) << "a closed handle is no longer valid";
  int16_t again = FileOpen(path.c_str(), kFileRead);
  EXPECT_EQ(again, f) << "the freed handle number is used again";
  FileClose(again);
  EXPECT_EQ(FileOpen(PathIn("missing").c_str(), kFileRead), kNoFile);
  EXPECT_NE(FileLastError(), 0);
  EXPECT_EQ(FileOpen(Dir().c_str(), kFileRead), kNoFile) << "a folder is not a file";
  EXPECT_EQ(FileDelete(path.c_str()), 0);
  EXPECT_FALSE(FileExists(path.c_str()));
}

TEST_F(PlatformTest, ShortWriteHookActsLikeAFullDisk) {
  int16_t f = FileCreate(PathIn("full").c_str());
  FileFailWritesAfter(5);
  EXPECT_EQ(FileWrite(f, "abc", 3), 3);
  EXPECT_EQ(FileWrite(f, "defg", 4), 2);
  EXPECT_EQ(FileWrite(f, "h", 1), 0);
  FileFailWritesAfter(-1);
  FileClose(f);
  EXPECT_EQ(ReadFileBytes(PathIn("full")), "abcde");
}

TEST_F(PlatformTest, ReplacementTakesTheTargetsPlaceOnlyOnCommit) {
  std::string path = PathIn("page.eps");
  WriteFileBytes(path, "old");
  chmod(path.c_str(), 0640);
  int16_t f = FileCreateReplacing(path.c_str());
  ASSERT_GT(f, 0);
  EXPECT_EQ(FileWrite(f, "new art", 7), 7);
  EXPECT_EQ(ReadFileBytes(path), "old") << "the old file stays until the commit";
  EXPECT_EQ(FolderEntries(Dir()).size(), 2u) << "the temporary lies beside the target";
  EXPECT_EQ(FileCommit(f), 0);
  EXPECT_EQ(ReadFileBytes(path), "new art");
  EXPECT_EQ(FolderEntries(Dir()), std::vector<std::string>{"page.eps"});
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "a replaced file keeps its permissions";

  // A new file needs no old one, and the longest name a folder holds
  // still leaves room for the temporary's.
  for (const std::string& name : {std::string("new.eps"), std::string(250, 'n') + ".eps"}) {
    f = FileCreateReplacing(PathIn(name).c_str());
    ASSERT_GT(f, 0) << name.size();
    FileWrite(f, "x", 1);
    EXPECT_EQ(FileCommit(f), 0);
    EXPECT_EQ(ReadFileBytes(PathIn(name)), "x");
  }
}

TEST_F(PlatformTest, FailedOrUncommittedReplacementLeavesTheOldFile) {
  std::string path = PathIn("page.eps");
  WriteFileBytes(path, "old");
  // Discarded, closed without a commit, or cut short by a full disk: the
  // old file is untouched and no temporary is left.
  for (int way = 0; way < 3; ++way) {
    int16_t f = FileCreateReplacing(path.c_str());
    ASSERT_GT(f, 0);
    if (way == 2) FileFailWritesAfter(3);
    int32_t written = FileWrite(f, "new art", 7);
    FileFailWritesAfter(-1);
    if (way == 0) FileDiscard(f);
    if (way == 1) FileClose(f);
    if (way == 2) {
      EXPECT_EQ(written, 3);
      FileDiscard(f);
    }
    EXPECT_EQ(ReadFileBytes(path), "old") << way;
    EXPECT_EQ(FolderEntries(Dir()), std::vector<std::string>{"page.eps"}) << way;
  }
  EXPECT_EQ(FileCommit(kNoFile), -1);
}

TEST_F(PlatformTest, OnlyRegularFilesAreReplacedAndLinksAreFollowed) {
  std::string real = PathIn("real.eps"), link = PathIn("link.eps");
  WriteFileBytes(real, "old");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  int16_t f = FileCreateReplacing(link.c_str());
  FileWrite(f, "new", 3);
  ASSERT_EQ(FileCommit(f), 0);
  EXPECT_EQ(ReadFileBytes(real), "new") << "the linked file gets the contents";
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";

  std::string fifo = PathIn("pipe.eps"), folder = PathIn("folder.eps/"), locked = PathIn("locked.eps");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  MakeFolder(folder.c_str());
  WriteFileBytes(locked, "keep");
  chmod(locked.c_str(), 0444);
  for (const std::string& target : {fifo, PathIn("folder.eps"), std::string("/dev/null"),
                                    PathIn("no/such/folder.eps")})
    EXPECT_EQ(FileCreateReplacing(target.c_str()), kNoFile) << target;
  if (geteuid() != 0) {
    EXPECT_EQ(FileCreateReplacing(locked.c_str()), kNoFile) << "a locked file stays locked";
  }
  EXPECT_EQ(FileKindOf(fifo.c_str()), kFileSpecial);
  EXPECT_EQ(FileKindOf(folder.c_str()), kFileFolder);
  EXPECT_EQ(FileKindOf(real.c_str()), kFileRegular);
  EXPECT_EQ(FileKindOf(PathIn("none").c_str()), kFileMissing);
  EXPECT_EQ(FileKindOf("/dev/null"), kFileSpecial);
}

TEST_F(PlatformTest, PipesAndDevicesAreRefusedWithoutWaiting) {
  std::string fifo = PathIn("pipe.tif");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // Opening a FIFO for reading would wait for a writer forever.
  for (int mode : {kFileRead, kFileReadWrite}) {
    EXPECT_EQ(FileOpen(fifo.c_str(), mode), kNoFile) << mode;
    EXPECT_EQ(FileLastError(), ENODEV);
  }
  EXPECT_EQ(FileOpen("/dev/zero", kFileRead), kNoFile);
  EXPECT_EQ(FileOpen(Dir().c_str(), kFileRead), kNoFile);
  EXPECT_EQ(FileLastError(), EISDIR);
}

TEST_F(PlatformTest, SameFileIsDecidedByDeviceAndInode) {
  std::string a = PathIn("a.tif"), hard = PathIn("hard.tif"), other = PathIn("other.tif");
  WriteFileBytes(a, "x");
  WriteFileBytes(other, "x");
  ASSERT_EQ(link(a.c_str(), hard.c_str()), 0);
  std::string spelled = Dir() + "./sub/../a.tif";
  MakeFolder(PathIn("sub/").c_str());
  EXPECT_TRUE(SameFile(a.c_str(), hard.c_str()));
  EXPECT_TRUE(SameFile(a.c_str(), spelled.c_str()));
  EXPECT_FALSE(SameFile(a.c_str(), other.c_str())) << "same contents, another file";
  EXPECT_FALSE(SameFile(a.c_str(), PathIn("missing").c_str()));
  int16_t f = FileOpen(a.c_str(), kFileRead);
  EXPECT_TRUE(SameFileAsOpen(f, hard.c_str()));
  EXPECT_FALSE(SameFileAsOpen(f, other.c_str()));
  FileClose(f);
  EXPECT_FALSE(SameFileAsOpen(f, a.c_str())) << "a closed handle is no file";
}

TEST_F(PlatformTest, MemoryHandlesAreZeroFilledAndObeyTheFailureHooks) {
  int live = MemLiveCount();
  MemHandle h = MemAlloc(64);
  ASSERT_NE(h, kNoMem);
  auto* p = static_cast<uint8_t*>(MemLock(h));
  for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0);
  p[0] = 7;
  MemUnlock(h);
  ASSERT_TRUE(MemResize(h, 100000));
  p = static_cast<uint8_t*>(MemLock(h));
  EXPECT_EQ(p[0], 7) << "contents move with the block";
  EXPECT_EQ(p[99999], 0) << "growth is zero-filled";
  MemUnlock(h);

  MemFailNext(1);
  EXPECT_EQ(MemAlloc(8), kNoMem);
  MemHandle next = MemAlloc(8);
  EXPECT_NE(next, kNoMem) << "only the next allocation fails";
  MemFailAbove(1000);
  EXPECT_EQ(MemAllocPtr(1001), nullptr);
  EXPECT_FALSE(MemResize(h, 200000));
  EXPECT_EQ(MemSize(h), 100000u) << "a failed resize leaves the block as it was";
  void* small = MemAllocPtr(1000);
  EXPECT_NE(small, nullptr);
  MemResetFailures();
  MemFreePtr(small);
  MemFree(h);
  EXPECT_EQ(MemLiveCount(), live + 1);  // the 8-byte block is still alive
  MemFree(next);
  EXPECT_EQ(MemLiveCount(), live);
}

namespace {
uint32_t gFakeTicks = 0;
uint32_t FakeTicks() { return gFakeTicks; }
}  // namespace

TEST_F(PlatformTest, TicksComeFromTheClockOrATestSource) {
  uint32_t a = TickCount();
  EXPECT_LE(TickCount() - a, 60u);
  gFakeTicks = 1234;
  SetTickSource(FakeTicks);
  EXPECT_EQ(TickCount(), 1234u);
}

TEST_F(PlatformTest, HeadlessMessagesAreAnsweredByScriptAndLogged) {
  ScriptAnswers({kAnswerNo, kAnswerCancel});
  ShowWarning(11);
  EXPECT_EQ(AskQuestion(235), kAnswerNo);
  EXPECT_EQ(AskYesNoCancel(43, "Save changes to x?"), kAnswerCancel);
  EXPECT_EQ(AskOKCancel(203), kAnswerOK) << "an empty script gives the default answer";
  ASSERT_EQ(MessageLog().size(), 4u);
  EXPECT_EQ(MessageLog()[0].text, "Insufficient memory to process image.");
  EXPECT_EQ(MessageLog()[2].text, "Save changes to x?");
  EXPECT_EQ(MessageIds(), (std::vector<int>{11, 235, 43, 203}));
}

TEST_F(PlatformTest, FoldersEndWithTheSeparator) {
  for (const char* f : {ModuleFolder(), TempFolder(), ConfigFolder()}) {
    ASSERT_GT(strlen(f), 0u);
    EXPECT_EQ(f[strlen(f) - 1], kPathSeparator) << f;
  }
  std::string nested = Dir() + "a/b/c/";
  EXPECT_TRUE(MakeFolder(nested.c_str()));
  EXPECT_TRUE(FolderWritable(nested.c_str()));
}

TEST_F(PlatformTest, LibrariesLoadByPathAndFindSymbols) {
  LibHandle lib = LibLoad("libm.so.6");
  ASSERT_NE(lib, nullptr);
  EXPECT_NE(LibSymbol(lib, "cos"), nullptr);
  EXPECT_EQ(LibSymbol(lib, "no_such_symbol_here"), nullptr);
  LibFree(lib);
  EXPECT_EQ(LibLoad(PathIn("missing.so").c_str()), nullptr);
}

TEST_F(PlatformTest, RecordingContextKeepsEveryCallInOrder) {
  RecordingDrawContext dc;
  dc.SetBrush(0x102030);
  dc.BeginPath();
  dc.MoveTo(1, 2);
  dc.BezierTo(3, 4, 5, 6, 7, 8);
  dc.EndPath();
  dc.FillPath();
  EXPECT_EQ(dc.calls, (std::vector<std::string>{"brush 102030", "beginpath", "moveto 1 2",
                                                "bezierto 3 4 5 6 7 8", "endpath", "fill"}));
}

namespace {

// The base fixture as a test body drives it, so that what its TearDown
// reports can be caught.
class FixtureUnderTest : public TessTest {
 public:
  void TestBody() override {}
  void Begin() { SetUp(); }
  void End() { TearDown(); }
  using TessTest::PathIn;
};

TEST(TessTestFixture, TearDownFailsATestThatLeaksABlockOrAFile) {
  MemHandle kept = kNoMem;
  int16_t file = kNoFile;
  {
    FixtureUnderTest t;
    t.Begin();
    kept = MemAlloc(16);
    ASSERT_NE(kept, kNoMem);
    EXPECT_NONFATAL_FAILURE(t.End(), "memory blocks left allocated");
  }
  MemFree(kept);
  {
    FixtureUnderTest t;
    t.Begin();
    file = FileCreate(t.PathIn("open").c_str());
    ASSERT_NE(file, kNoFile);
    EXPECT_NONFATAL_FAILURE(t.End(), "file handles left open");
  }
  FileClose(file);
  {
    FixtureUnderTest t;  // a test that frees what it made passes
    t.Begin();
    MemFree(MemAlloc(16));
    t.End();
  }
}

}  // namespace
