// The Qt backend: message boxes through QMessageBox, the modeless progress
// window, the event pump with Escape and close-request detection, and the
// QPainter drawing context.
#include "platform/qt_backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/string_ids.h"

namespace {

QPointer<QWidget> gParent;
int gNextAnswer = 0;  // 0: none scripted

// --- message boxes ---------------------------------------------------------

QMessageBox::StandardButton ButtonFor(int answer) {
  switch (answer) {
    case kAnswerOK: return QMessageBox::Ok;
    case kAnswerCancel: return QMessageBox::Cancel;
    case kAnswerYes: return QMessageBox::Yes;
    case kAnswerNo: return QMessageBox::No;
    default: return QMessageBox::NoButton;
  }
}

int AnswerFor(int button) {
  switch (button) {
    case QMessageBox::Ok: return kAnswerOK;
    case QMessageBox::Yes: return kAnswerYes;
    case QMessageBox::No: return kAnswerNo;
    default: return kAnswerCancel;
  }
}

// Clicks the scripted button of the message box once it is the active modal
// window; gives up after a few seconds so a test cannot hang on it.
void ArmScriptedAnswer(int answer) {
  auto* timer = new QTimer(qApp);
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, answer, tries] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box && box->isVisible()) {
      QAbstractButton* button = box->button(ButtonFor(answer));
      if (!button) button = box->defaultButton();
      if (button) button->click();
      timer->deleteLater();
      return;
    }
    if (++*tries > 500) timer->deleteLater();
  });
  timer->start(10);
}

int QtShowMessage(int, int kind, const char* text) {
  QMessageBox box(gParent);
  box.setText(QString::fromUtf8(text));
  // The boxes keep the title and buttons of their kind whatever the text.
  switch (kind) {
    case kMessageQuestion:
      box.setIcon(QMessageBox::Question);
      box.setWindowTitle(QString::fromUtf8(LoadString(kStrQuestionTitle)));
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      break;
    case kMessageYesNoCancel:
      box.setIcon(QMessageBox::Warning);
      box.setWindowTitle(QString::fromUtf8(LoadString(kStrAppTitle)));
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Yes);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    case kMessageOKCancel:
      box.setIcon(QMessageBox::Warning);
      box.setWindowTitle(QString::fromUtf8(LoadString(kStrAppTitle)));
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    default:
      box.setIcon(kind == kMessageInformation ? QMessageBox::Information : QMessageBox::Warning);
      box.setWindowTitle(QString::fromUtf8(LoadString(kStrAppTitle)));
      box.setStandardButtons(QMessageBox::Ok);
      break;
  }
  if (gNextAnswer) {
    ArmScriptedAnswer(gNextAnswer);
    gNextAnswer = 0;
  }
  int result = box.exec();
  // A warning or information box has only OK, however it was closed.
  if (kind == kMessageWarning || kind == kMessageInformation) return kAnswerOK;
  // Closing a Yes/No box by its title bar counts as No: it has no Cancel.
  if (kind == kMessageQuestion && result != QMessageBox::Yes) return kAnswerNo;
  return AnswerFor(result);
}

void QtBeep() { QApplication::beep(); }

// --- progress window -------------------------------------------------------

class ProgressDialog : public QDialog {
 public:
  explicit ProgressDialog(QWidget* parent) : QDialog(parent) {
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel(this);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);
    bar_->setStyleSheet("QProgressBar::chunk { background-color: rgb(150, 220, 232); }");
    batch_ = new QLabel(this);
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    layout->addWidget(text_);
    layout->addWidget(bar_);
    layout->addWidget(batch_);
    layout->addWidget(stop_, 0, Qt::AlignRight);
    QObject::connect(stop_, &QPushButton::clicked, this, [this] {
      ProgressReportStop();
      hide();
    });
    setMinimumWidth(320);
  }

  void Apply(const ProgressModel& m) {
    setWindowTitle(QString::fromUtf8(m.title.c_str()));
    text_->setText(QString::fromUtf8(m.text.c_str()));
    batch_->setText(QString::fromUtf8(m.batchText.c_str()));
    batch_->setVisible(!m.batchText.empty());
    bar_->setValue(std::clamp(m.percent, 0, 100));
  }

  QPushButton* stopButton() const { return stop_; }

 protected:
  // The close box stops the work as the Stop button does.
  void closeEvent(QCloseEvent* e) override {
    ProgressReportStop();
    QDialog::closeEvent(e);
  }
  // Escape in the window is a stop request too, not a plain close.
  void reject() override {
    ProgressReportStop();
    hide();
  }

 private:
  QLabel* text_;
  QLabel* batch_;
  QProgressBar* bar_;
  QPushButton* stop_;
};

QPointer<ProgressDialog> gProgressDialog;

void QtProgressChanged(const ProgressModel& m) {
  if (!m.open) {
    if (gProgressDialog) gProgressDialog->hide();
    return;
  }
  if (!gProgressDialog) gProgressDialog = new ProgressDialog(gParent);
  gProgressDialog->Apply(m);
  if (!gProgressDialog->isVisible()) gProgressDialog->show();
  // Paint now: the pump runs at most once a second during long work.
  gProgressDialog->repaint();
}

// --- event pump ------------------------------------------------------------

// Watches the events that the pump dispatches: Escape anywhere and a close
// request of a main window become stop requests instead of acting.
class PumpFilter : public QObject {
 public:
  bool pumping = false;
  bool escape = false;
  bool closeRequest = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (!pumping) return false;
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
      escape = true;
      return true;
    }
    if (e->type() == QEvent::Close) {
      auto* w = qobject_cast<QWidget*>(watched);
      if (w && w->isWindow() && !qobject_cast<QDialog*>(w)) {
        closeRequest = true;
        e->ignore();
        return true;
      }
    }
    return false;
  }
};

PumpFilter* gPumpFilter = nullptr;

PumpResult QtPump() {
  PumpResult r;
  if (!gPumpFilter) return r;
  gPumpFilter->pumping = true;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  gPumpFilter->pumping = false;
  r.escape = gPumpFilter->escape;
  r.closeRequest = gPumpFilter->closeRequest;
  gPumpFilter->escape = gPumpFilter->closeRequest = false;
  return r;
}

}  // namespace

void InstallQtBackend() {
  if (!gPumpFilter) {
    gPumpFilter = new PumpFilter;
    gPumpFilter->setParent(qApp);
    qApp->installEventFilter(gPumpFilter);
  }
  InstallBackend(PlatformBackend{QtShowMessage, QtBeep, QtProgressChanged, QtPump});
}

void SetQtMessageParent(QWidget* parent) { gParent = parent; }

void QtAnswerNextMessage(int answer) { gNextAnswer = answer; }

// --- drawing context -------------------------------------------------------

struct QtDrawContext::State {
  std::unique_ptr<QPainter> owned;
  QPainter* p = nullptr;
  QPen pen{QColor(0, 0, 0), 1};
  QBrush brush{QColor(0, 0, 0)};
  bool xorMode = false;
  QPoint origin{0, 0};
  QPointF current{0, 0};
  bool inPath = false;
  QPainterPath path;

  void ApplyMode() {
    p->setCompositionMode(xorMode ? QPainter::RasterOp_SourceXorDestination
                                  : QPainter::CompositionMode_SourceOver);
  }
  void Init() {
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setPen(pen);
    p->setBrush(brush);
    path.setFillRule(Qt::WindingFill);
  }
  // Starts a figure at the current position when a segment comes first.
  void EnsureFigure() {
    if (path.elementCount() == 0) path.moveTo(current);
  }
  void Consume() {
    path = QPainterPath();
    path.setFillRule(Qt::WindingFill);
    inPath = false;
  }
};

QtDrawContext::QtDrawContext(QPaintDevice* device) : s_(std::make_unique<State>()) {
  s_->owned = std::make_unique<QPainter>(device);
  s_->p = s_->owned.get();
  s_->Init();
}

QtDrawContext::QtDrawContext(QPainter* painter) : s_(std::make_unique<State>()) {
  s_->p = painter;
  s_->Init();
}

QtDrawContext::~QtDrawContext() = default;

static QColor ColorOf(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

void QtDrawContext::SetPen(uint32_t rgb, int width) {
  // A width below 1 still draws one pixel wide. Wide pens end and join round.
  s_->pen = QPen(ColorOf(rgb), std::max(1, width), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  s_->p->setPen(s_->pen);
}

void QtDrawContext::SetBrush(uint32_t rgb) {
  s_->brush = QBrush(ColorOf(rgb));
  s_->p->setBrush(s_->brush);
}

void QtDrawContext::SetXorMode(bool on) {
  s_->xorMode = on;
  s_->ApplyMode();
}

void QtDrawContext::SetClip(const DrawRect* r) {
  QTransform t = s_->p->transform();
  s_->p->resetTransform();
  if (r && r->right > r->left && r->bottom > r->top)
    s_->p->setClipRect(QRect(r->left, r->top, r->right - r->left, r->bottom - r->top));
  else if (r)
    s_->p->setClipRect(QRect());  // an empty rectangle clips everything away
  else
    s_->p->setClipping(false);
  s_->p->setTransform(t);
}

void QtDrawContext::SetOrigin(int32_t x, int32_t y) {
  s_->origin = QPoint(x, y);
  s_->p->setTransform(QTransform::fromTranslate(-x, -y));
}

void QtDrawContext::BeginPath() {
  s_->Consume();
  s_->inPath = true;
}

void QtDrawContext::EndPath() { s_->inPath = false; }

void QtDrawContext::MoveTo(int32_t x, int32_t y) {
  s_->current = QPointF(x, y);
  if (s_->inPath) s_->path.moveTo(s_->current);
}

void QtDrawContext::LineTo(int32_t x, int32_t y) {
  QPointF to(x, y);
  if (s_->inPath) {
    s_->EnsureFigure();
    s_->path.lineTo(to);
  } else {
    s_->p->setPen(s_->pen);
    s_->p->drawLine(s_->current, to);
  }
  s_->current = to;
}

void QtDrawContext::BezierTo(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3) {
  QPointF c1(x1, y1), c2(x2, y2), to(x3, y3);
  if (s_->inPath) {
    s_->EnsureFigure();
    s_->path.cubicTo(c1, c2, to);
  } else {
    QPainterPath curve(s_->current);
    curve.cubicTo(c1, c2, to);
    s_->p->strokePath(curve, s_->pen);
  }
  s_->current = to;
}

void QtDrawContext::CloseFigure() {
  if (s_->inPath && s_->path.elementCount() > 0) {
    s_->path.closeSubpath();
    s_->current = s_->path.currentPosition();
  }
}

void QtDrawContext::FillPath() {
  s_->p->fillPath(s_->path, s_->brush);
  s_->Consume();
}

void QtDrawContext::StrokePath() {
  s_->p->strokePath(s_->path, s_->pen);
  s_->Consume();
}

void QtDrawContext::FillAndStrokePath() {
  s_->p->fillPath(s_->path, s_->brush);
  s_->p->strokePath(s_->path, s_->pen);
  s_->Consume();
}

void QtDrawContext::BlitBits(int32_t x, int32_t y, const uint8_t* bits, int32_t rowBytes, int32_t width,
                             int32_t height) {
  if (!bits || width <= 0 || height <= 0 || rowBytes < (width + 7) / 8) return;
  if (s_->xorMode) {
    // Invert the target under every run of set bits.
    for (int32_t row = 0; row < height; ++row) {
      const uint8_t* r = bits + static_cast<size_t>(row) * rowBytes;
      int32_t col = 0;
      while (col < width) {
        while (col < width && !(r[col >> 3] & (0x80 >> (col & 7)))) ++col;
        int32_t start = col;
        while (col < width && (r[col >> 3] & (0x80 >> (col & 7)))) ++col;
        if (col > start) s_->p->fillRect(QRect(x + start, y + row, col - start, 1), QColor(255, 255, 255));
      }
    }
    return;
  }
  // One-bit image with bit 0x80 leftmost, as the bitmap stores it; the rows
  // are copied so that the source may go away at once.
  QImage image(width, height, QImage::Format_Mono);
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  const int32_t bytes = (width + 7) / 8;
  for (int32_t row = 0; row < height; ++row)
    std::copy_n(bits + static_cast<size_t>(row) * rowBytes, bytes, image.scanLine(row));
  s_->p->drawImage(QPoint(x, y), image);
}
