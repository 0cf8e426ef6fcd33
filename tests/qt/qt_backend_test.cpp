// The Qt backend, run on the offscreen platform: painting through
// QtDrawContext into a QImage checked pixel by pixel, message boxes answered
// by clicking their buttons, the progress window's Stop button and the event
// pump's Escape and close-request detection.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/qt_backend.h"

// The font library keeps a few blocks for the life of the process; under the
// leak checker of sanitized builds they are not ours to report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

QApplication* App() {
  static int argc = 1;
  static char name[] = "tests_qt";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

class QtBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ClearMessageLog();
    InstallQtBackend();
  }
  void TearDown() override {
    ProgressClose();
    InstallHeadlessBackend();
  }
};

QImage WhiteImage(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::white);
  return img;
}

bool IsColor(const QImage& img, int x, int y, QRgb c) { return (img.pixel(x, y) & 0xFFFFFF) == (c & 0xFFFFFF); }

// --- drawing ---------------------------------------------------------------

// A circle of radius 20 around (cx, cy) made of four Bezier quarters.
void CirclePath(DrawContext& dc, int cx, int cy) {
  const int r = 20, k = 11;  // k = r x 0.5523, rounded
  dc.BeginPath();
  dc.MoveTo(cx + r, cy);
  dc.BezierTo(cx + r, cy + k, cx + k, cy + r, cx, cy + r);
  dc.BezierTo(cx - k, cy + r, cx - r, cy + k, cx - r, cy);
  dc.BezierTo(cx - r, cy - k, cx - k, cy - r, cx, cy - r);
  dc.BezierTo(cx + k, cy - r, cx + r, cy - k, cx + r, cy);
  dc.CloseFigure();
  dc.EndPath();
}

TEST_F(QtBackendTest, FilledBezierPathCoversTheInsideOnly) {
  QImage img = WhiteImage(100, 100);
  {
    QtDrawContext dc(&img);
    dc.SetBrush(0xFF0000);
    CirclePath(dc, 50, 50);
    dc.FillPath();
  }
  const QRgb red = qRgb(255, 0, 0), white = qRgb(255, 255, 255);
  // Inside: centre and points well within the radius.
  for (auto [x, y] : std::vector<std::pair<int, int>>{{50, 50}, {35, 50}, {65, 50}, {50, 35}, {50, 65}, {40, 40}})
    EXPECT_TRUE(IsColor(img, x, y, red)) << x << "," << y;
  // Outside: the bounding box corners, which a straight-line polygon through
  // the anchors would cover only if the curves were ignored, and beyond.
  for (auto [x, y] : std::vector<std::pair<int, int>>{{32, 32}, {68, 68}, {32, 68}, {68, 32}, {50, 75}, {5, 5}})
    EXPECT_TRUE(IsColor(img, x, y, white)) << x << "," << y;
  // The curve bulges past the anchors' diamond: (62, 62) lies inside the
  // circle (distance 17) but outside the straight diamond through the anchors.
  EXPECT_TRUE(IsColor(img, 62, 62, red));
}

TEST_F(QtBackendTest, FillUsesNonzeroWinding) {
  // Two overlapping squares drawn in the same direction: nonzero fills the
  // overlap, an even-odd fill would leave it blank.
  QImage img = WhiteImage(60, 60);
  {
    QtDrawContext dc(&img);
    dc.SetBrush(0x000000);
    dc.BeginPath();
    for (int off : {5, 20}) {
      dc.MoveTo(off, off);
      dc.LineTo(off + 30, off);
      dc.LineTo(off + 30, off + 30);
      dc.LineTo(off, off + 30);
      dc.CloseFigure();
    }
    dc.EndPath();
    dc.FillPath();
  }
  EXPECT_TRUE(IsColor(img, 27, 27, qRgb(0, 0, 0)));  // overlap
  EXPECT_TRUE(IsColor(img, 10, 10, qRgb(0, 0, 0)));
  EXPECT_TRUE(IsColor(img, 45, 45, qRgb(0, 0, 0)));
  EXPECT_TRUE(IsColor(img, 45, 10, qRgb(255, 255, 255)));
}

TEST_F(QtBackendTest, OriginShiftsDrawingButNotTheClip) {
  QImage img = WhiteImage(60, 60);
  {
    QtDrawContext dc(&img);
    DrawRect clip{0, 0, 60, 30};  // device pixels: the top half
    dc.SetClip(&clip);
    dc.SetOrigin(0, -19);  // logical y lands 19 pixels lower
    dc.SetBrush(0x0000FF);
    dc.BeginPath();
    dc.MoveTo(10, 0);
    dc.LineTo(40, 0);
    dc.LineTo(40, 30);
    dc.LineTo(10, 30);
    dc.EndPath();  // left open: a fill closes it
    dc.FillPath();
  }
  const QRgb blue = qRgb(0, 0, 255), white = qRgb(255, 255, 255);
  EXPECT_TRUE(IsColor(img, 20, 10, white));  // above the shifted square
  EXPECT_TRUE(IsColor(img, 20, 22, blue));   // inside, above the clip edge
  EXPECT_TRUE(IsColor(img, 20, 35, white));  // inside the square but clipped
  EXPECT_TRUE(IsColor(img, 5, 22, white));
}

TEST_F(QtBackendTest, StrokeAndLinesOutsideAPath) {
  QImage img = WhiteImage(40, 40);
  {
    QtDrawContext dc(&img);
    dc.SetPen(0x00FF00, 0);  // width 0 still draws one pixel
    dc.MoveTo(5, 20);
    dc.LineTo(35, 20);  // drawn at once
    dc.SetPen(0x000000, 5);
    dc.SetBrush(0xFF0000);
    dc.BeginPath();
    dc.MoveTo(10, 5);
    dc.LineTo(30, 5);
    dc.LineTo(30, 15);
    dc.EndPath();
    dc.StrokePath();  // an open stroke: no fill, no closing edge
  }
  EXPECT_TRUE(IsColor(img, 20, 20, qRgb(0, 255, 0)));
  EXPECT_TRUE(IsColor(img, 20, 19, qRgb(255, 255, 255)));
  EXPECT_TRUE(IsColor(img, 20, 5, qRgb(0, 0, 0)));
  EXPECT_TRUE(IsColor(img, 30, 12, qRgb(0, 0, 0)));
  EXPECT_TRUE(IsColor(img, 24, 9, qRgb(255, 255, 255)));  // not filled
  EXPECT_TRUE(IsColor(img, 18, 11, qRgb(255, 255, 255)));  // no closing edge
}

TEST_F(QtBackendTest, XorTwiceRestoresAndBlitMapsBits) {
  QImage img = WhiteImage(24, 4);
  for (int x = 0; x < 12; ++x) img.setPixel(x, 0, qRgb(10, 20, 30));
  const QImage before = img.copy();
  // Row 0: 0xF0 0x0F -> pixels 0-3 and 12-15 set; row 1: 0x81.
  const uint8_t bits[] = {0xF0, 0x0F, 0x00, 0x00, 0x81, 0x00, 0x00, 0x00};
  {
    QtDrawContext dc(&img);
    dc.SetXorMode(true);
    dc.BlitBits(0, 0, bits, 4, 16, 2);
  }
  EXPECT_TRUE(IsColor(img, 0, 0, qRgb(245, 235, 225)));  // inverted
  EXPECT_TRUE(IsColor(img, 4, 0, qRgb(10, 20, 30)));     // left alone
  EXPECT_TRUE(IsColor(img, 12, 0, qRgb(0, 0, 0)));       // white inverted
  EXPECT_TRUE(IsColor(img, 7, 1, qRgb(0, 0, 0)));        // bit 0x01 of byte 0 is pixel 7
  EXPECT_TRUE(IsColor(img, 6, 1, qRgb(255, 255, 255)));
  EXPECT_TRUE(IsColor(img, 0, 1, qRgb(0, 0, 0)));
  {
    QtDrawContext dc(&img);
    dc.SetXorMode(true);
    dc.BlitBits(0, 0, bits, 4, 16, 2);
  }
  EXPECT_EQ(img, before);

  // Opaque: 1 bits black, 0 bits white, nothing past the width.
  QImage out = WhiteImage(24, 4);
  out.fill(qRgb(200, 0, 0));
  {
    QtDrawContext dc(&out);
    dc.BlitBits(2, 1, bits, 4, 12, 2);
  }
  EXPECT_TRUE(IsColor(out, 2, 1, qRgb(0, 0, 0)));
  EXPECT_TRUE(IsColor(out, 6, 1, qRgb(255, 255, 255)));
  EXPECT_TRUE(IsColor(out, 13, 1, qRgb(255, 255, 255)));  // pixel 11, the last one drawn
  EXPECT_TRUE(IsColor(out, 14, 1, qRgb(200, 0, 0)));      // pixel 12 is past the width
  EXPECT_TRUE(IsColor(out, 1, 1, qRgb(200, 0, 0)));
  EXPECT_TRUE(IsColor(out, 9, 2, qRgb(0, 0, 0)));     // row 1, bit 0x01 -> pixel 7, at x 9
}

// --- message boxes ---------------------------------------------------------

struct SeenBox {
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QString text;
};

// Waits for the active message box, records it and clicks `click`.
void InspectAndClick(SeenBox* seen, QMessageBox::StandardButton click) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, timer, [=] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    seen->title = box->windowTitle();
    seen->icon = box->icon();
    seen->buttons = box->standardButtons();
    seen->text = box->text();
    if (QAbstractButton* b = box->button(click)) b->click();
    else box->reject();
    timer->deleteLater();
  });
  timer->start(5);
}

TEST_F(QtBackendTest, MessageBoxesHaveTheirTitlesButtonsAndAnswers) {
  struct Case {
    int kind;
    QMessageBox::StandardButton click;
    const char* title;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    int answer;
  } cases[] = {
      {kMessageWarning, QMessageBox::Ok, "Quenda Tessary", QMessageBox::Warning, QMessageBox::Ok, kAnswerOK},
      {kMessageQuestion, QMessageBox::No, "Question", QMessageBox::Question,
       QMessageBox::Yes | QMessageBox::No, kAnswerNo},
      {kMessageYesNoCancel, QMessageBox::Cancel, "Quenda Tessary", QMessageBox::Warning,
       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, kAnswerCancel},
      {kMessageOKCancel, QMessageBox::Ok, "Quenda Tessary", QMessageBox::Warning,
       QMessageBox::Ok | QMessageBox::Cancel, kAnswerOK},
      {kMessageInformation, QMessageBox::Ok, "Quenda Tessary", QMessageBox::Information, QMessageBox::Ok,
       kAnswerOK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    SeenBox seen;
    InspectAndClick(&seen, c.click);
    int answer = 0;
    switch (c.kind) {
      case kMessageWarning: ShowWarning(131); answer = kAnswerOK; break;
      case kMessageQuestion: answer = AskQuestion(235); break;
      case kMessageInformation: ShowInformation(356); answer = kAnswerOK; break;
      case kMessageYesNoCancel: answer = AskYesNoCancel(43, "Save changes?"); break;
      default: answer = AskOKCancel(203); break;
    }
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(seen.title.toStdString(), c.title);
    EXPECT_EQ(seen.icon, c.icon);
    EXPECT_EQ(seen.buttons, c.buttons);
    ASSERT_FALSE(MessageLog().empty());
    EXPECT_EQ(MessageLog().back().answer, c.answer);
    EXPECT_EQ(MessageLog().back().kind, c.kind);
  }
  EXPECT_EQ(MessageLog()[0].text, "No paths found");
  EXPECT_EQ(MessageLog()[2].text, "Save changes?");  // the formatted text is the one shown
}

TEST_F(QtBackendTest, ScriptedAnswerClicksTheButtonAndIsLogged) {
  QtAnswerNextMessage(kAnswerNo);
  EXPECT_EQ(AskYesNoCancel(322, "Save changes to the pixel image \"a.tif\" before closing?"), kAnswerNo);
  ASSERT_EQ(MessageLog().size(), 1u);
  EXPECT_EQ(MessageLog()[0].id, 322);
  EXPECT_EQ(MessageLog()[0].kind, kMessageYesNoCancel);
  EXPECT_EQ(MessageLog()[0].answer, kAnswerNo);
  EXPECT_EQ(MessageLog()[0].text, "Save changes to the pixel image \"a.tif\" before closing?");

  // Closing a Yes/No box without a button answers No, never a third value.
  SeenBox seen;
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, timer, [timer] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      box->close();
      timer->deleteLater();
    }
  });
  timer->start(5);
  EXPECT_EQ(AskQuestion(260), kAnswerNo);
}

// --- progress window and pump ----------------------------------------------

QDialog* FindProgressWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible() && d->windowTitle() == "Progress") return d;
  return nullptr;
}

TEST_F(QtBackendTest, ProgressWindowStopButtonReportsStop) {
  ProgressOpen("Progress", false);
  ProgressSetText("Outlining -");
  ProgressSetPercent(40);
  QDialog* d = FindProgressWindow();
  ASSERT_NE(d, nullptr);
  QPushButton* stop = nullptr;
  for (QPushButton* b : d->findChildren<QPushButton*>())
    if (b->text() == "Stop") stop = b;
  ASSERT_NE(stop, nullptr);
  EXPECT_FALSE(ProgressStopPressed());
  stop->click();
  EXPECT_TRUE(ProgressStopPressed());
  EXPECT_FALSE(ProgressStopPressed());  // reported once
  ProgressClose();
  EXPECT_EQ(FindProgressWindow(), nullptr);
}

TEST_F(QtBackendTest, PumpReportsEscapeAndCloseRequestOnce) {
  QWidget main;
  main.show();
  QCoreApplication::processEvents();
  EXPECT_FALSE(PumpEvents().escape);

  QCoreApplication::postEvent(&main, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
  PumpResult r = PumpEvents();
  EXPECT_TRUE(r.escape);
  EXPECT_FALSE(r.closeRequest);
  EXPECT_FALSE(PumpEvents().escape);

  // A close request during work is reported, and the window stays open.
  QCoreApplication::postEvent(&main, new QCloseEvent);
  r = PumpEvents();
  EXPECT_TRUE(r.closeRequest);
  EXPECT_TRUE(main.isVisible());
  EXPECT_FALSE(PumpEvents().closeRequest);
}

}  // namespace
