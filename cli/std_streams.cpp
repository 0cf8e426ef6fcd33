#include "cli/std_streams.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/platform.h"

namespace {

// Writes all of `count` bytes to a descriptor, through interruptions.
bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool SpoolStandardInput(const std::string& path) {
  int16_t file = FileCreate(path.c_str());
  if (file == kNoFile) return false;
  uint8_t buffer[65536];
  int64_t total = 0;
  bool ok = true;
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (FileWrite(file, buffer, static_cast<int32_t>(n)) != n) {
      ok = false;
      break;
    }
    total += n;
  }
  FileClose(file);
  return ok && total > 0;
}

bool CopyToStandardOutput(const std::string& path) {
  int16_t file = FileOpen(path.c_str(), kFileRead);
  if (file == kNoFile) return false;
  uint8_t buffer[65536];
  bool ok = true;
  for (;;) {
    int32_t n = FileRead(file, buffer, sizeof buffer);
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (!WriteAll(STDOUT_FILENO, buffer, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  FileClose(file);
  return ok;
}
