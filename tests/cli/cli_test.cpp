// tessary-cli as a user runs it: usage errors, bad input, the batch rules
// (names, existing files, destination), settings presets, and the formats.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/support.h"

namespace {

struct CliRun {
  int status;
  std::string out, err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Binary() { return std::string(TESS_BINARY_DIR) + "/bin/tessary-cli"; }
std::string Data(const std::string& name) { return SourceDir() + "/tests/cli/data/" + name; }

class CliTest : public TessTest {
 protected:
  void SetUp() override {
    TessTest::SetUp();
    struct stat st;
    ASSERT_EQ(stat(Binary().c_str(), &st), 0) << "build the tessary-cli target first";
  }
  CliRun Cli(const std::vector<std::string>& args) {
    std::string cmd = "cd " + Quote(Dir()) + " && " + Quote(Binary());
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " >" + Quote(PathIn(".out")) + " 2>" + Quote(PathIn(".err")) + " </dev/null";
    int raw = system(cmd.c_str());
    CliRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), ReadFileBytes(PathIn(".out")),
          ReadFileBytes(PathIn(".err"))};
    return r;
  }
  void Copy(const std::string& from, const std::string& to) { WriteFileBytes(to, ReadFileBytes(from)); }
};

TEST_F(CliTest, BadUsageExitsWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus", "a.tif"},
      {"--tolerance", "9", "a.tif"},
      {"--tolerance", "x", "a.tif"},
      {"--noise", "0", "a.tif"},
      {"--method", "spiral", "a.tif"},
      {"--line-type", "wavy", "a.tif"},
      {"--tolerance"},
      {"a.tif", "-o", "a.png"},
      {"a.tif", "b.tif", "-o", "a.eps"},
      {"a.tif", "-o", "a.dxf", "--format", "eps-bw"},
      {"a.tif", "-o", "a.eps", "-d", "."},
      {"--format", "pdf", "a.tif"},
      {"--preset", "Fine", "a.tif"},
      {"--settings", "missing.set", "a.tif"},
      {"-d", "no/such/folder", "a.tif"},
  };
  for (const auto& args : cases) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    CliRun r = Cli(args);
    EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
    EXPECT_NE(r.err.find("tessary-cli"), std::string::npos) << line;
  }
  CliRun help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"--output-dir", "--replace", "--method", "--settings", "--preset", "--save-image",
                           "--downsample", "--quiet", "eps-color", "Exit status"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

TEST_F(CliTest, BadInputNeverLeavesAnArtFile) {
  std::string tiff = ReadFileBytes(Data("drawing.tif"));
  WriteFileBytes(PathIn("garbage.tif"), "this is no image at all");
  WriteFileBytes(PathIn("empty.pcx"), "");
  WriteFileBytes(PathIn("cut.tif"), tiff.substr(0, tiff.size() / 3));
  WriteFileBytes(PathIn("cut.sun"), ReadFileBytes(Data("drawing.sun")).substr(0, 40));
  WriteFileBytes(PathIn("cut.pnt"), ReadFileBytes(Data("drawing.pnt")).substr(0, 600));
  MakeFolder(PathIn("folder.tif").c_str());
  for (const char* in : {"garbage.tif", "empty.pcx", "cut.tif", "cut.sun", "cut.pnt", "folder.tif", "none.tif"}) {
    CliRun r = Cli({in, "-o", "art.eps"});
    EXPECT_EQ(r.status, 1) << in << "\n" << r.err;
    EXPECT_FALSE(FileExists(PathIn("art.eps").c_str())) << in;
  }
  // The same files in one batch: each is reported, none leaves art behind.
  CliRun r = Cli({"-q", "garbage.tif", "empty.pcx", "cut.tif", "cut.sun", "cut.pnt", "none.tif"});
  EXPECT_EQ(r.status, 1) << r.err;
  for (const char* art : {"garbage.eps", "empty.eps", "cut.eps", "none.eps"})
    EXPECT_FALSE(FileExists(PathIn(art).c_str())) << art;
}

TEST_F(CliTest, ExistingArtIsSkippedUnlessReplaced) {
  MakeFolder(PathIn("in/").c_str());
  MakeFolder(PathIn("out/").c_str());
  WriteFileBytes(PathIn("in/scan.tif"), "not an image");
  WriteFileBytes(PathIn("out/scan.dxf"), "old");
  CliRun r = Cli({"in/scan.tif", "-d", "out", "--format", "dxf"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("A file already exists with the name:\nout/scan.dxf"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("skipped"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFileBytes(PathIn("out/scan.dxf")), "old");

  r = Cli({"in/scan.tif", "-d", "out", "--format", "dxf", "--replace"});
  EXPECT_EQ(r.err.find("already exists"), std::string::npos) << r.err;
}

TEST_F(CliTest, DuplicateNamesAreWarnedAboutButConverted) {
  MakeFolder(PathIn("a/").c_str());
  MakeFolder(PathIn("b/").c_str());
  WriteFileBytes(PathIn("a/page.tif"), "x");
  WriteFileBytes(PathIn("b/page.pcx"), "x");
  CliRun r = Cli({"a/page.tif", "b/page.pcx", "-d", "."});
  EXPECT_NE(r.err.find("matches another (PAGE)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("b/page.pcx"), std::string::npos) << r.err;  // the second one was tried too
}

TEST_F(CliTest, SettingsPresetMustExist) {
  // A settings file with one preset "Fine" (tolerance 1.5), written byte by byte.
  std::string file("\xB8\xB0\xED\xFE\x02\x00", 6);
  std::string record(736, '\0');
  record[18] = 1;
  std::string preset(68, '\0');
  preset.replace(0, 4, "Fine");
  preset[32] = 0x48;
  preset[42] = static_cast<char>(800 & 0xFF);
  preset[43] = static_cast<char>(800 >> 8);
  preset[56] = 15;
  WriteFileBytes(PathIn("my.set"), file + record + preset);
  WriteFileBytes(PathIn("x.tif"), "x");
  CliRun r = Cli({"--settings", "my.set", "--preset", "Coarse", "x.tif"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("presets: Fine"), std::string::npos) << r.err;
  r = Cli({"--settings", "my.set", "--preset", "Fine", "x.tif"});
  EXPECT_EQ(r.status, 1) << r.err;  // past the options: only the input is bad
  WriteFileBytes(PathIn("bad.set"), "nonsense");
  r = Cli({"--settings", "bad.set", "x.tif"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Invalid settings file, using defaults."), std::string::npos) << r.err;
}

}  // namespace
