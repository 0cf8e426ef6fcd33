// tessary-cli: converts image files to vector art with the program's own
// document, conversion and art-writing code, on the headless backend.
#include <cstdio>
#include <cstring>

#include "engine/conversion.h"
#include "output/art_writer.h"
#include "platform/platform.h"
#include "shell/document.h"
#include "shell/records.h"
#include "shell/startup.h"

namespace {

void EchoMessage(const MessageLogEntry& m) { fprintf(stderr, "tessary-cli: %s\n", m.text.c_str()); }

int Usage(FILE* to) {
  fprintf(to,
          "usage: tessary-cli INPUT -o OUTPUT\n"
          "Traces INPUT (TIFF, PCX, Sun raster, MacPaint or Ranvelle image) into vector art\n"
          "written to OUTPUT.\n");
  return to == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "-h") || !strcmp(argv[i], "--help")) return Usage(stdout);
    if (!strcmp(argv[i], "-o") && i + 1 < argc) output = argv[++i];
    else if (argv[i][0] == '-') return Usage(stderr);
    else if (!input) input = argv[i];
    else return Usage(stderr);
  }
  if (!input || !output) return Usage(stderr);

  StartProgram();
  SetMessageEcho(EchoMessage);
  if (!CopyName(gImage->path, input) || !CopyName(gImage->docName, output)) {
    fprintf(stderr, "tessary-cli: the file name is longer than %d characters\n", kNameBufferSize - 1);
    return 1;
  }
  gImage->sourceType = static_cast<int16_t>(SourceTypeFromName(input));
  if (!OpenDocument(nullptr)) return 1;
  ConvertImage(false);
  int saved = SaveArt(gImage->docName, 0);
  CloseDocument();
  return saved ? 0 : 1;
}
