// The art writers: the EPS vector-art document (header, prolog, setup, path
// bodies, trailer, optional DOS EPS binary header with a TIFF preview) and
// the DXF drawing. `SaveArt` is the one entry that every save goes through.
#pragma once

#include <cstdint>
#include <ctime>

#include "core/status.h"

struct PathRecord;

// Saves the art in the output format of the preferences. `scratch` is
// nonzero for the clipboard's scratch file. Done (with message 38 when
// curves were flattened into DXF while the settings ask for curves), Failed
// with the disk message or 237, or the status of a stop; the art then stays
// modified.
Status SaveArt(const char* path, int scratch);

// The enhanced metafile writer (format 4), installed by the module that
// makes metafiles: create the file (false on failure), draw one path, close.
// Like every writer it writes a replacement (FileCreateReplacing): close
// with `keep` puts the file in place (FileCommit) and returns false when
// that failed; without `keep` (a failed write or a stop) it discards it, so
// the old file stays. While none is installed a format-4 save fails as a
// metafile that cannot be created.
struct MetafileWriter {
  bool (*create)(const char* path);
  void (*writePath)(const PathRecord* path);
  bool (*close)(bool keep);
};
extern MetafileWriter gMetafileWriter;

// Page scale of the running save: the 16.16 factors are the output stream's
// gOutScaleX / gOutScaleY; W and H are the bounding box in whole points.
extern int32_t gPageWidth;
extern int32_t gPageHeight;
void ComputePageScale();

// Document framing (the output stream must be open).
void WriteArtHeader();
void WriteArtTrailer();
void WriteDosEpsHeader();
// The preview code that the running save works with (format 7 always 1).
extern int16_t gEffectivePreview;
// File positions of the PostScript section and of the TIFF preview, for the
// DOS EPS header.
extern int32_t gPostScriptStart;
extern int32_t gPostScriptEnd;

// The embedded prolog.
const uint8_t* PrologBytes();
int32_t PrologSize();
// Test hook: pretend the prolog cannot be loaded.
void SetPrologUnavailable(bool unavailable);

// The creation-date comment line for a local time, without the line end.
void FormatCreationDate(const struct tm& when, char* text, int size);

// Path bodies.
void ResetPathWriter();  // the last paints and weight, at the start of a file
void WriteColorComments();
void WritePath(const PathRecord* path);
// How a path is painted: 'f' closed and filled, 'b' closed, filled and
// stroked, 'S' stroked as it stands (an open path is never filled), 0 not
// at all (no paint, or no points).
char PaintingOperator(const PathRecord* path);
// role 0 fill, 1 stroke; `color` is the path's color of that role.
void WritePaint(int role, int kind, int customIndex, int tint, const uint8_t color[4]);
// The smoothness judgement of an anchor from its incoming and outgoing
// reference offsets (art units).
bool SmoothAnchor(int32_t inX, int32_t inY, int32_t outX, int32_t outY);

// DXF.
void WriteDxfHeader();
void WriteDxfPath(const PathRecord* path);
void WriteDxfTrailer();
void WriteDxfReal(int groupCode, double value);
void WriteDxfVertex(int16_t x, int16_t y);
// Formats a DXF real as WriteDxfReal writes it (at most three decimals).
void FormatDxfReal(double value, char* text, int size);
// Curves flattened into the running DXF save.
extern int32_t gFlattenedCurves;
