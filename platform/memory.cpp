// Zero-filled movable memory handles with failure hooks for tests.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace {

struct MemBlock {
  void* data;
  size_t size;
  int locks;
};

std::vector<MemBlock> gBlocks{MemBlock{nullptr, 0, 0}};  // slot 0 is kNoMem
std::vector<MemHandle> gFreeSlots;
int gLive = 0;
int gFailNext = 0;
size_t gFailAbove = 0;

bool ShouldFail(size_t size) {
  if (gFailNext > 0) {
    --gFailNext;
    return true;
  }
  return gFailAbove != 0 && size > gFailAbove;
}

MemBlock* Block(MemHandle h) {
  if (h == kNoMem || h >= gBlocks.size() || !gBlocks[h].data) return nullptr;
  return &gBlocks[h];
}

}  // namespace

MemHandle MemAlloc(size_t size) {
  if (ShouldFail(size)) return kNoMem;
  void* data = calloc(size ? size : 1, 1);
  if (!data) return kNoMem;
  MemHandle h;
  if (!gFreeSlots.empty()) {
    h = gFreeSlots.back();
    gFreeSlots.pop_back();
  } else {
    h = static_cast<MemHandle>(gBlocks.size());
    gBlocks.push_back({});
  }
  gBlocks[h] = MemBlock{data, size, 0};
  ++gLive;
  return h;
}

bool MemResize(MemHandle h, size_t size) {
  MemBlock* b = Block(h);
  if (!b) return false;
  if (size <= b->size) {
    b->size = size;
    return true;
  }
  if (ShouldFail(size)) return false;
  void* data = realloc(b->data, size);
  if (!data) return false;
  memset(static_cast<char*>(data) + b->size, 0, size - b->size);
  b->data = data;
  b->size = size;
  return true;
}

void* MemLock(MemHandle h) {
  MemBlock* b = Block(h);
  if (!b) return nullptr;
  ++b->locks;
  return b->data;
}

void MemUnlock(MemHandle h) {
  MemBlock* b = Block(h);
  if (b && b->locks > 0) --b->locks;
}

size_t MemSize(MemHandle h) {
  MemBlock* b = Block(h);
  return b ? b->size : 0;
}

void MemFree(MemHandle h) {
  MemBlock* b = Block(h);
  if (!b) return;
  free(b->data);
  *b = MemBlock{nullptr, 0, 0};
  gFreeSlots.push_back(h);
  --gLive;
}

int MemLiveCount() { return gLive; }

void* MemAllocPtr(size_t size) {
  if (ShouldFail(size)) return nullptr;
  void* p = calloc(size ? size : 1, 1);
  if (p) ++gLive;
  return p;
}

void MemFreePtr(void* p) {
  if (!p) return;
  free(p);
  --gLive;
}

void* ZlibAlloc(void*, unsigned items, unsigned size) { return MemAllocPtr(static_cast<size_t>(items) * size); }
void ZlibFree(void*, void* block) { MemFreePtr(block); }

void MemFailNext(int count) { gFailNext = count; }
void MemFailAbove(size_t bytes) { gFailAbove = bytes; }
void MemResetFailures() {
  gFailNext = 0;
  gFailAbove = 0;
}
