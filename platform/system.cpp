// Ticks, the program's folders and library loading.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

uint32_t (*gTickSource)() = nullptr;
char gModuleFolder[kNameBufferSize] = "";
char gTempFolder[kNameBufferSize] = "";
char gConfigFolder[kNameBufferSize] = "";

// Ends a folder name with the separator; false when it would not fit.
bool EndWithSeparator(char* folder) {
  size_t n = strlen(folder);
  if (n > 0 && folder[n - 1] == kPathSeparator) return true;
  const char sep[2] = {kPathSeparator, 0};
  return AppendName(folder, sep);
}

}  // namespace

uint32_t TickCount() {
  if (gTickSource) return gTickSource();
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(ms * 3 / 50);
}

void SetTickSource(uint32_t (*source)()) { gTickSource = source; }

const char* ModuleFolder() {
  if (!gModuleFolder[0]) {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
      exe[n] = 0;
      char* slash = strrchr(exe, kPathSeparator);
      if (slash) slash[1] = 0;
      if (!CopyName(gModuleFolder, exe)) CopyName(gModuleFolder, "./");
    } else {
      CopyName(gModuleFolder, "./");
    }
  }
  return gModuleFolder;
}

void SetModuleFolder(const char* folder) {
  if (CopyName(gModuleFolder, folder)) EndWithSeparator(gModuleFolder);
}

const char* TempFolder() {
  if (!gTempFolder[0]) {
    const char* t = getenv("TMPDIR");
    if (!t || !*t || !CopyName(gTempFolder, t) || !EndWithSeparator(gTempFolder))
      CopyName(gTempFolder, "/tmp/");
  }
  return gTempFolder;
}

const char* ConfigFolder() {
  if (!gConfigFolder[0]) {
    const char* x = getenv("XDG_CONFIG_HOME");
    bool ok = false;
    if (x && *x) {
      ok = CopyName(gConfigFolder, x) && EndWithSeparator(gConfigFolder);
    } else if (const char* home = getenv("HOME"); home && *home) {
      ok = CopyName(gConfigFolder, home) && EndWithSeparator(gConfigFolder) &&
           AppendName(gConfigFolder, ".config/");
    }
    if (!ok || !AppendName(gConfigFolder, "tessary/")) CopyName(gConfigFolder, TempFolder());
  }
  return gConfigFolder;
}

bool FolderWritable(const char* folder) { return access(folder, W_OK | X_OK) == 0; }

bool MakeFolder(const char* folder) {
  char buf[kNameBufferSize];
  if (!CopyName(buf, folder)) return false;
  for (char* p = buf + 1; *p; ++p) {
    if (*p != kPathSeparator) continue;
    *p = 0;
    mkdir(buf, 0755);
    *p = kPathSeparator;
  }
  mkdir(buf, 0755);
  struct stat st;
  return stat(buf, &st) == 0 && S_ISDIR(st.st_mode);
}

LibHandle LibLoad(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void* LibSymbol(LibHandle lib, const char* name) { return lib ? dlsym(lib, name) : nullptr; }
void LibFree(LibHandle lib) {
  if (lib) dlclose(lib);
}
