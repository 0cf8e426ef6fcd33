// Centerline thinning: the skeleton of the working bitmap, its junction
// points, the interactive thinning pause, and the split of the image into
// thick areas (outlined) and thin lines (centerlined or line-recognized).
#pragma once

#include <array>
#include <cstdint>

// Neighbour code of a black pixel: bit 0 south, 1 south-east, 2 east,
// 3 north-east, 4 north, 5 north-west, 6 west, 7 south-west.
// Peel table (even passes) and corner table (odd passes): 0 = delete.
extern const std::array<uint8_t, 256> PeelTable;
extern const std::array<uint8_t, 256> CornerTable;
// 1 = junction pixel.
extern const std::array<uint8_t, 256> JunctionTable;

// The neighbour code of pixel (x, y) of the working bitmap.
uint8_t NeighbourCode(int x, int y);

// Fills every white pixel whose four edge neighbours are black (never the
// first or last pixel of a row). False when memory is short.
bool PinholeFill();
// Runs the thinning passes p = first .. last over the rows that changed in
// the step before (all rows at first), showing "Step i of n" when `progress`
// is set. Stops early when a step changes nothing, or on an abort. Returns
// the number of pixels cleared, -1 when memory is short.
int32_t RunThinningPasses(int first, int last, int steps, bool progress);
// Collects the junction points of the working bitmap into JunctionList.
// False when the conversion must stop (memory, or too many junctions).
bool CollectJunctions();
// Starts a junction list holding only its top sentinel, and appends a point
// to it. False when memory is short: the conversion stops with message 11.
bool StartJunctionList();
bool AppendJunction(int x, int y);
// Merges junction points that lie within a pixel or two of each other.
void MergeJunctions();
// Allocates JunctionUsedBits for the final list; false when memory is short.
bool AllocJunctionUsedBits();
// The thick/thin split. 1: thick areas are left in the working bitmap and
// "dgskel" holds the thin-line skeleton; 0: there are no thick areas;
// -1: the conversion stopped.
int ThickThinSplit();

// The number of thinning steps run so far in this conversion (Thin More and
// a post-edit step included).
extern int16_t thinningStepsRun;

// Undo of Thin More. Keep: before the extra step, keeps the skeleton (the
// working bitmap) and the step count aside; false when memory is short.
// Exchange: the skeleton is exchanged with the kept one, the step count
// goes down by one (undo) or up by one (redo) and the Skeletonizing window
// shows it; the exchanged skeleton counts as unedited; false when nothing is
// kept (the pause has ended since). Discard: forgets the kept skeleton.
bool KeepThinMoreUndo();
bool ExchangeThinMoreUndo(bool undo);
void DiscardThinMoreUndo();
