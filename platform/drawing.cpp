// The recording drawing context of the headless backend.
#include <cstdio>

#include "platform/platform.h"

namespace {
std::string Fmt(const char* fmt, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0) {
  char buf[160];
  snprintf(buf, sizeof buf, fmt, a, b, c, d, e, f);
  return buf;
}
}  // namespace

void RecordingDrawContext::SetPen(uint32_t rgb, int width) { calls.push_back(Fmt("pen %06lx %ld", rgb, width)); }
void RecordingDrawContext::SetBrush(uint32_t rgb) { calls.push_back(Fmt("brush %06lx", rgb)); }
void RecordingDrawContext::SetXorMode(bool on) { calls.push_back(Fmt("xor %ld", on)); }
void RecordingDrawContext::SetClip(const DrawRect* r) {
  calls.push_back(r ? Fmt("clip %ld %ld %ld %ld", r->left, r->top, r->right, r->bottom) : "clip none");
}
void RecordingDrawContext::SetOrigin(int32_t x, int32_t y) { calls.push_back(Fmt("origin %ld %ld", x, y)); }
void RecordingDrawContext::BeginPath() { calls.push_back("beginpath"); }
void RecordingDrawContext::EndPath() { calls.push_back("endpath"); }
void RecordingDrawContext::MoveTo(int32_t x, int32_t y) { calls.push_back(Fmt("moveto %ld %ld", x, y)); }
void RecordingDrawContext::LineTo(int32_t x, int32_t y) { calls.push_back(Fmt("lineto %ld %ld", x, y)); }
void RecordingDrawContext::BezierTo(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3) {
  calls.push_back(Fmt("bezierto %ld %ld %ld %ld %ld %ld", x1, y1, x2, y2, x3, y3));
}
void RecordingDrawContext::CloseFigure() { calls.push_back("close"); }
void RecordingDrawContext::FillPath() { calls.push_back("fill"); }
void RecordingDrawContext::StrokePath() { calls.push_back("stroke"); }
void RecordingDrawContext::FillAndStrokePath() { calls.push_back("fillstroke"); }
void RecordingDrawContext::BlitBits(int32_t x, int32_t y, const uint8_t*, int32_t rowBytes, int32_t width,
                                    int32_t height) {
  calls.push_back(Fmt("blit %ld %ld %ld %ld %ld", x, y, rowBytes, width, height));
}
