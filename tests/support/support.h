// Helpers shared by the tests: a clean program state per test, a scratch
// folder of the test's own, and small bitmap builders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/status.h"

// Resets the records, settings, message log, failure hooks and progress
// model, and gives the test a fresh scratch folder (also the preferences'
// scratch folder). Checks at the end that no file handle or memory block
// made during the test was left behind.
class TessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The test's own folder, ending with '/'.
  const std::string& Dir() const { return dir_; }
  std::string PathIn(const std::string& name) const { return dir_ + name; }
  // Ids of the messages shown so far, in order.
  std::vector<int> MessageIds() const;
  // Set false in a test that deliberately keeps blocks or files alive.
  bool checkLeaks_ = true;

 private:
  std::string dir_;
  int memAtStart_ = 0;
  int filesAtStart_ = 0;
};

// Sets up an image record of width x height one-bit pixels (rowBytes a
// multiple of 4) with an allocated, blank working bitmap.
void MakeBitmapImage(int width, int height, double dpi = 300);
// Sets pixel (x, y) of the working bitmap.
void SetWorkPixel(int x, int y, int on = 1);
// Draws the rows of `art` ('#' black, anything else white) at (x0, y0).
void DrawArt(int x0, int y0, const std::vector<std::string>& art);
void FillRect(int left, int top, int right, int bottom);  // right, bottom exclusive

// The entry that AddCustomColor or AddPreset made, or nullptr when it failed
// (its status then in `*status` when given).
struct CustomColorEntry;
struct ConversionSettings;
CustomColorEntry* NewColorEntry(Status* status = nullptr);
ConversionSettings* NewPreset(const ConversionSettings* settings, Status* status = nullptr);

// How gtest prints a Status: its kind and message number.
void PrintTo(const Status& status, std::ostream* os);

std::string ReadFileBytes(const std::string& path);
// The names in a folder, hidden ones included ("." and ".." left out), sorted.
std::vector<std::string> FolderEntries(const std::string& folder);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The source folder of the project (for fixtures).
std::string SourceDir();
