// Files with small integer handles over POSIX descriptors, and the safe
// replacement of a file through a temporary file beside it.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

// One open file. A replacing file also knows its temporary name and the
// target that FileCommit renames it to.
struct FileSlot {
  int fd = -1;
  std::string temp;
  std::string target;
};

constexpr int kMaxFiles = 64;
FileSlot gFiles[kMaxFiles + 1];  // index = handle; 0 unused so that 0 is never a handle
int gLastError = 0;
int64_t gWriteBudget = -1;  // test hook: bytes that may still be written; -1 unlimited
unsigned gTempCounter = 0;  // makes temporary names unique within the process

int16_t Register(int fd) {
  for (int h = 1; h <= kMaxFiles; ++h) {
    if (gFiles[h].fd < 0) {
      gFiles[h].fd = fd;
      return static_cast<int16_t>(h);
    }
  }
  close(fd);
  gLastError = EMFILE;
  return kNoFile;
}

int Fd(int16_t h) {
  if (h < 1 || h > kMaxFiles) return -1;
  return gFiles[h].fd;
}

// Closes a handle's descriptor and, for an uncommitted replacement, removes
// its temporary file.
void Release(int16_t h) {
  int fd = Fd(h);
  if (fd < 0) return;
  FileSlot& slot = gFiles[h];
  close(fd);
  if (!slot.temp.empty()) unlink(slot.temp.c_str());
  slot = FileSlot{};
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind(kPathSeparator);
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Makes a directory entry durable after a rename; best effort, as some file
// systems cannot sync a folder.
void SyncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
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
  // Opened without waiting, so that a FIFO is looked at rather than waited
  // on; a regular file then goes back to ordinary blocking reads.
  int fd = open(path, flags | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 && mode == kFileReadWrite && errno == EACCES) fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    gLastError = errno;
    return kNoFile;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) st.st_mode = 0;
  if (!S_ISREG(st.st_mode)) {
    gLastError = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    close(fd);
    return kNoFile;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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

// Closing a replacing file without FileCommit discards it: nothing half
// written ever takes the target's place.
int FileClose(int16_t file) {
  if (Fd(file) < 0) return -1;
  Release(file);
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
  int n = 0;
  for (int h = 1; h <= kMaxFiles; ++h) n += gFiles[h].fd >= 0;
  return n;
}

void FileFailWritesAfter(int64_t bytes) { gWriteBudget = bytes; }

int16_t FileCreateReplacing(const char* path) {
  // A link is followed, so that the file it names gets the new contents.
  std::string target = path;
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char real[PATH_MAX];
    if (realpath(path, real)) target = real;
  }
  bool exists = stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    gLastError = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    return kNoFile;
  }
  if (exists && access(target.c_str(), W_OK) != 0) {
    gLastError = errno;
    return kNoFile;
  }
  // The temporary lives in the target's folder, so that the commit is a
  // rename within one file system; it is hidden and named after the target.
  size_t slash = target.rfind(kPathSeparator);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  int fd = -1;
  std::string temp;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    char suffix[48];
    snprintf(suffix, sizeof suffix, ".tessary-%ld-%u", static_cast<long>(getpid()), gTempCounter++);
    temp = folder + "." + base.substr(0, 200) + suffix;  // within the longest name a folder holds
    fd = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    gLastError = errno;
    return kNoFile;
  }
  // A replaced file keeps its permissions.
  if (exists) fchmod(fd, st.st_mode & 07777);
  int16_t h = Register(fd);
  if (h == kNoFile) {
    unlink(temp.c_str());
    return kNoFile;
  }
  gFiles[h].temp = temp;
  gFiles[h].target = target;
  return h;
}

int FileCommit(int16_t file) {
  int fd = Fd(file);
  if (fd < 0 || gFiles[file].temp.empty()) return -1;
  FileSlot& slot = gFiles[file];
  bool ok = fsync(fd) == 0;
  if (!ok) gLastError = errno;
  int closed = close(fd);
  slot.fd = -1;
  if (ok && closed != 0) {
    gLastError = errno;
    ok = false;
  }
  if (ok && rename(slot.temp.c_str(), slot.target.c_str()) != 0) {
    gLastError = errno;
    ok = false;
  }
  if (ok) SyncFolder(FolderOf(slot.target));
  else unlink(slot.temp.c_str());
  slot = FileSlot{};
  return ok ? 0 : -1;
}

void FileDiscard(int16_t file) { Release(file); }

int FileKindOf(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return kFileMissing;
  if (S_ISREG(st.st_mode)) return kFileRegular;
  return S_ISDIR(st.st_mode) ? kFileFolder : kFileSpecial;
}

bool SameFile(const char* a, const char* b) {
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool SameFileAsOpen(int16_t file, const char* path) {
  int fd = Fd(file);
  struct stat sa, sb;
  return fd >= 0 && fstat(fd, &sa) == 0 && stat(path, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}
