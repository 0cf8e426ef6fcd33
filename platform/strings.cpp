// The string table: every text the user sees, keyed by its number. Texts are
// exactly as the program shows them, odd spacing included.
#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace {

struct StringEntry {
  int id;
  const char* text;
};

// Sorted by number.
const StringEntry kStrings[] = {
#include "platform/string_table.inc"
};

}  // namespace

const char* LoadString(int id) {
  size_t lo = 0, hi = sizeof kStrings / sizeof kStrings[0];
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (kStrings[mid].id == id) return kStrings[mid].text;
    if (kStrings[mid].id < id) lo = mid + 1;
    else hi = mid;
  }
  return "";
}

std::string FormatString(int id, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, id);
  vsnprintf(buf, sizeof buf, LoadString(id), ap);
  va_end(ap);
  return buf;
}
