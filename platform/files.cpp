// Files with small integer handles over POSIX descriptors.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

constexpr int kMaxFiles = 64;
int gFds[kMaxFiles + 1];  // index = handle; 0 unused so that 0 is never a handle
bool gFdsReady = false;
int gLastError = 0;
int64_t gWriteBudget = -1;  // test hook: bytes that may still be written; -1 unlimited

void Ready() {
  if (gFdsReady) return;
  for (int& fd : gFds) fd = -1;
  gFdsReady = true;
}

int16_t Register(int fd) {
  Ready();
  for (int h = 1; h <= kMaxFiles; ++h) {
    if (gFds[h] < 0) {
      gFds[h] = fd;
      return static_cast<int16_t>(h);
    }
  }
  close(fd);
  gLastError = EMFILE;
  return kNoFile;
}

int Fd(int16_t h) {
  Ready();
  if (h < 1 || h > kMaxFiles) return -1;
  return gFds[h];
}

}  // namespace

bool CopyName(char* dst, const char* src) {
  size_t n = strlen(src);
  if (n >= static_cast<size_t>(kNameBufferSize)) {
    dst[0] = 0;
    return false;
  }
  memcpy(dst, src, n + 1);
  return true;
}

bool AppendName(char* dst, const char* src) {
  size_t a = strnlen(dst, kNameBufferSize);
  size_t b = strlen(src);
  if (a + b >= static_cast<size_t>(kNameBufferSize)) return false;
  memcpy(dst + a, src, b + 1);
  return true;
}

int16_t FileOpen(const char* path, int mode) {
  int flags = mode == kFileRead ? O_RDONLY : mode == kFileWrite ? O_WRONLY : O_RDWR;
  int fd = open(path, flags | O_CLOEXEC);
  if (fd < 0 && mode == kFileReadWrite && errno == EACCES) fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    gLastError = errno;
    return kNoFile;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    gLastError = EISDIR;
    return kNoFile;
  }
  return Register(fd);
}

int16_t FileCreate(const char* path) {
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    gLastError = errno;
    return kNoFile;
  }
  return Register(fd);
}

int FileClose(int16_t file) {
  int fd = Fd(file);
  if (fd < 0) return -1;
  close(fd);
  gFds[file] = -1;
  return 0;
}

int FileDelete(const char* path) {
  if (unlink(path) != 0) {
    gLastError = errno;
    return -1;
  }
  return 0;
}

int32_t FileSeek(int16_t file, int32_t offset, int origin) {
  int fd = Fd(file);
  if (fd < 0) return -1;
  int whence = origin == kSeekCur ? SEEK_CUR : origin == kSeekEnd ? SEEK_END : SEEK_SET;
  off_t r = lseek(fd, offset, whence);
  if (r < 0) {
    gLastError = errno;
    return -1;
  }
  return static_cast<int32_t>(r);
}

int32_t FileTell(int16_t file) { return FileSeek(file, 0, kSeekCur); }

int32_t FileRead(int16_t file, void* bytes, int32_t count) {
  int fd = Fd(file);
  if (fd < 0 || count < 0) return -1;
  int32_t done = 0;
  while (done < count) {
    ssize_t r = read(fd, static_cast<char*>(bytes) + done, static_cast<size_t>(count - done));
    if (r < 0) {
      if (errno == EINTR) continue;
      gLastError = errno;
      return done > 0 ? done : -1;
    }
    if (r == 0) break;
    done += static_cast<int32_t>(r);
  }
  return done;
}

int32_t FileWrite(int16_t file, const void* bytes, int32_t count) {
  int fd = Fd(file);
  if (fd < 0 || count < 0) return -1;
  int32_t allowed = count;
  if (gWriteBudget >= 0 && gWriteBudget < count) allowed = static_cast<int32_t>(gWriteBudget);
  int32_t done = 0;
  while (done < allowed) {
    ssize_t r = write(fd, static_cast<const char*>(bytes) + done, static_cast<size_t>(allowed - done));
    if (r < 0) {
      if (errno == EINTR) continue;
      gLastError = errno;
      break;
    }
    done += static_cast<int32_t>(r);
  }
  if (gWriteBudget >= 0) gWriteBudget -= done;
  if (done < count && gLastError == 0) gLastError = ENOSPC;
  return done;
}

int32_t FileLength(int16_t file) {
  int fd = Fd(file);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  return static_cast<int32_t>(st.st_size);
}

bool FileExists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

int FileLastError() { return gLastError; }

int FileOpenCount() {
  Ready();
  int n = 0;
  for (int h = 1; h <= kMaxFiles; ++h) n += gFds[h] >= 0;
  return n;
}

void FileFailWritesAfter(int64_t bytes) { gWriteBudget = bytes; }
