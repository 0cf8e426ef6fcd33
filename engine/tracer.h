// The outline tracer: finds the next object of the working bitmap, follows
// its boundary into a direction chain, removes it from the bitmap and stamps
// the traced boundary into the mask bitmap. Also the paged work areas that
// the tracer, the polygon builder and the curve fitter share: an area of the
// work memory that overflows, page by page, into a scratch store.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// A work area that holds one page of a longer byte array; the other pages
// live in a scratch store at page x page-size. Touching an offset outside the
// page in memory writes the page back (when it was changed or the array has
// ever spilled) and loads the wanted one.
struct PagedArea {
  uint8_t* area = nullptr;
  int32_t pageBytes = 0;
  int store = 0;        // ScratchStore index
  int32_t page = 0;     // the page held in memory
  bool dirty = false;   // the page in memory differs from the store
  bool spilled = false; // some page has gone to the store
};
// Points the array at its area; the array is empty and holds page 0.
void PagedReset(PagedArea* p, uint8_t* area, int32_t bytes, int store, int32_t elementBytes);
// The address of the byte at `offset`, loading its page first. On a failed
// store (message shown, gUserAbort set) a harmless dummy is returned.
uint8_t* PagedAtSlow(PagedArea* p, int32_t offset, bool write);
inline uint8_t* PagedAt(PagedArea* p, int32_t offset, bool write) {
  int32_t rel = offset - p->page * p->pageBytes;
  if (rel >= 0 && rel < p->pageBytes) {
    if (write) p->dirty = true;
    return p->area + rel;
  }
  return PagedAtSlow(p, offset, write);
}

// ---------------------------------------------------------------------------
// Direction codes: x to the right, y downward; d + 4 (mod 8) reverses d.
constexpr int8_t kStepX[8] = {-1, -1, -1, 0, 1, 1, 1, 0};
constexpr int8_t kStepY[8] = {1, 0, -1, -1, -1, 0, 1, 1};
constexpr uint8_t kChainEnd = 0xFF;
constexpr int32_t kChainHeader = 4;  // start x and y, two i16 values

// The direction chain of the current object.
extern PagedArea chainPages;
extern int16_t chainStartX, chainStartY;
extern int32_t chainStepCount;   // codes written for the object (0 once the long-chain merge stops)
extern int32_t chainCodes;       // codes the chain holds now
extern int16_t chainOverflowed;  // the chain continued in "edgearr"
// The chain byte at `offset` (from the chain's start, header included).
uint8_t ChainByte(int32_t offset);
void SetChainByte(int32_t offset, uint8_t value);

// Extremes of the current object: the first point reached at each side.
struct ObjectExtremes {
  int16_t leftX, leftY, rightX, rightY, topX, topY, bottomX, bottomY;
};
extern ObjectExtremes objectExtremes;
extern int16_t objectWidth, objectHeight;
// The object's area (bounding box grown by 2, clipped), in pixels.
extern int16_t areaLeft, areaTop, areaWidth, areaHeight;

// The walk's position and last direction.
extern int16_t walkX, walkY, walkDir;

// The search position (row, word) of the object search.
extern int16_t searchRow, searchWord;

int GetPixel(const uint8_t* bits, int x, int y);
void ClearPixel(int x, int y);
void ClearSquare(int x, int y);
void StampSquare(int x, int y);
void XorSpan(int x, int y);
int TemplatePixel(int x, int y);
int16_t NextBoundaryStep();

// Makes the steps through `count` pixels (x, y pairs, each a neighbour of
// the one before) the current object's chain, as the shared-boundary pass
// hands over one boundary run: start point, codes and end mark, the object's
// extremes and area, and its band stamped into the mask. The working bitmap
// is left alone. False when the chain could not be stored (an abort).
bool LoadRunChain(const int16_t* xy, int32_t count);
