// The Qt backend of the wrapper layer: real message boxes, the progress
// window, the event pump and a drawing context that paints with QPainter.
// This header names Qt classes only by forward declaration, so code outside
// platform/ and gui/ can hold a QtDrawContext without seeing Qt.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"

class QPaintDevice;
class QPainter;
class QWidget;

// Replaces the backend hooks with the Qt ones. Needs a QApplication.
void InstallQtBackend();

// The widget that message boxes and the progress window are parented to
// (the main window); nullptr gives top-level boxes.
void SetQtMessageParent(QWidget* parent);

// Test hook: the next message box that opens is answered with `answer`
// (kAnswerOK, kAnswerCancel, kAnswerYes or kAnswerNo) by clicking its button
// as soon as the box is the active modal window. A box that lacks the button
// gets its default button clicked instead.
void QtAnswerNextMessage(int answer);

// Paints into a QImage (or any paint device) or through a painter that the
// caller already holds (a widget's paint event).
//
// Paths are built between BeginPath and EndPath and consumed by FillPath,
// StrokePath or FillAndStrokePath. Outside a path bracket, LineTo and BezierTo
// draw at once with the current pen. Fills use the nonzero winding rule, the
// same rule as the fill operator of the saved art, so a self-crossing path
// looks on screen as it will print. The window origin is the logical point
// that lands at device (0, 0); the clip rectangle is in device pixels and
// does not move with the origin. XOR mode combines the pen, brush and bitmap
// colors with the target by exclusive or (on a QImage target of 32 bits).
class QtDrawContext : public DrawContext {
 public:
  explicit QtDrawContext(QPaintDevice* device);
  explicit QtDrawContext(QPainter* painter);
  ~QtDrawContext() override;
  QtDrawContext(const QtDrawContext&) = delete;
  QtDrawContext& operator=(const QtDrawContext&) = delete;

  void SetPen(uint32_t rgb, int width) override;
  void SetBrush(uint32_t rgb) override;
  void SetXorMode(bool on) override;
  void SetClip(const DrawRect* rect) override;
  void SetOrigin(int32_t x, int32_t y) override;
  void BeginPath() override;
  void EndPath() override;
  void MoveTo(int32_t x, int32_t y) override;
  void LineTo(int32_t x, int32_t y) override;
  void BezierTo(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3) override;
  void CloseFigure() override;
  void FillPath() override;
  void StrokePath() override;
  void FillAndStrokePath() override;
  // Opaque: 1 bits black, 0 bits white. XOR mode: the target is inverted
  // under the 1 bits and left alone under the 0 bits.
  void BlitBits(int32_t x, int32_t y, const uint8_t* bits, int32_t rowBytes, int32_t width,
                int32_t height) override;

 private:
  struct State;
  std::unique_ptr<State> s_;
};
