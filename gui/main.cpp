// tessary: the desktop program. A main window that opens an image (from the
// command line or the File menu), shows its working bitmap, converts it and
// saves the art, on the Qt backend of the wrapper layer.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QStatusBar>
#include <QWidget>

#include <cstring>

#include "art/pathstore.h"
#include "core/records.h"
#include "engine/conversion.h"
#include "platform/platform.h"
#include "platform/qt_backend.h"
#include "platform/string_ids.h"
#include "raster/open_image.h"
#include "shell/document.h"
#include "shell/startup.h"

namespace {

// Shows the working bitmap of the open document, one screen pixel per image
// pixel, white where there is no image.
class ImageView : public QWidget {
 public:
  explicit ImageView(QWidget* parent) : QWidget(parent) { setAutoFillBackground(false); }

  void FitToImage() {
    bool open = gDocument->imageWindow && gWorkBits;
    resize(open ? QSize(gImage->width, gImage->height) : QSize(1, 1));
    update();
  }

 protected:
  void paintEvent(QPaintEvent* e) override {
    QPainter painter(this);
    painter.fillRect(e->rect(), Qt::white);
    if (!gDocument->imageWindow || !gWorkBits) return;
    QtDrawContext dc(&painter);
    dc.BlitBits(0, 0, gWorkBits, gImage->rowBytes, gImage->width, gImage->height);
  }
};

class MainWindow;
MainWindow* gMain = nullptr;
ImageView* gView = nullptr;

class MainWindow : public QMainWindow {
 public:
  MainWindow() {
    setWindowTitle(QString::fromUtf8(LoadString(kStrAppTitle)));
    auto* scroll = new QScrollArea(this);
    gView = new ImageView(scroll);
    scroll->setWidget(gView);
    scroll->setBackgroundRole(QPalette::Dark);
    setCentralWidget(scroll);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* open = file->addAction(QStringLiteral("&Open..."), this, [this] { OpenFromDialog(); });
    open->setShortcut(QKeySequence::Open);
    convert_ = file->addAction(QStringLiteral("Con&vert"), this, [this] { Convert(); });
    convert_->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
    save_ = file->addAction(QStringLiteral("&Save Art As..."), this, [this] { SaveAs(); });
    save_->setShortcut(QKeySequence::Save);
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("E&xit"), this, [this] { close(); });
    quit->setShortcut(QKeySequence::Quit);
    UpdateState();
    resize(800, 600);
  }

  // Opens `path` as the new document. On failure the previous document and
  // its names stay as they were.
  bool OpenPath(const QString& path) {
    if (gDocument->Test(Flag::busy)) return false;  // the pump lets menus run during work
    // Only ask here: the document is closed by the open itself, and only
    // once the new file could be opened.
    if (gDocument->imageWindow && (!AskSaveArt(1).ok() || !AskSavePixelImage().ok())) return false;
    ImageInfo saved = *gImage;
    QByteArray utf8 = path.toUtf8();
    QByteArray art = (QFileInfo(path).path() + '/' + QFileInfo(path).completeBaseName() + ".eps").toUtf8();
    if (!CopyName(gImage->path, utf8.constData()) || !CopyName(gImage->docName, art.constData())) {
      ShowWarning(kStrNameTooLong);
      RestoreNames(saved);
      return false;
    }
    gImage->sourceType = static_cast<int16_t>(SourceTypeFromName(utf8.constData()));
    bool ok = OpenDocument(nullptr).ok();
    if (!ok && !gDocument->imageWindow) {
      // Nothing is open: keep no stale names either.
      gImage->path[0] = gImage->docName[0] = 0;
    } else if (!ok) {
      RestoreNames(saved);
    }
    gView->FitToImage();
    UpdateState();
    return ok;
  }

  void UpdateState() {
    bool open = gDocument->imageWindow != nullptr;
    bool busy = gDocument->Test(Flag::busy);
    convert_->setEnabled(open && !busy);
    save_->setEnabled(open && !busy && gPathCount > 0);
    if (open)
      statusBar()->showMessage(
          QString::asprintf("%d %s", gPathCount, LoadString(gPathCount == 1 ? kStrPath : kStrPaths)));
    else
      statusBar()->clearMessage();
  }

 protected:
  void closeEvent(QCloseEvent* e) override {
    if (gDocument->Test(Flag::busy) || !CloseCurrent()) {
      e->ignore();
      return;
    }
    e->accept();
  }

 private:
  static void RestoreNames(const ImageInfo& saved) {
    memcpy(gImage->path, saved.path, sizeof gImage->path);
    memcpy(gImage->docName, saved.docName, sizeof gImage->docName);
    gImage->sourceType = saved.sourceType;
  }

  // Asks to save the art and the pixel image, then closes the document.
  // False when the user cancelled.
  bool CloseCurrent() {
    if (!gDocument->imageWindow) return true;
    if (!AskSaveArt(1).ok() || !AskSavePixelImage().ok()) return false;
    CloseDocument();
    gView->FitToImage();
    UpdateState();
    return true;
  }

  void OpenFromDialog() {
    if (gDocument->Test(Flag::busy)) return;
    QString path = QFileDialog::getOpenFileName(this, QString(), QString(),
                                                QStringLiteral("Images (*.tif *.tiff *.eps *.pcx *.pnt *.rvd *.sun);;"
                                                               "All Files (*)"));
    if (!path.isEmpty()) OpenPath(path);
  }

  void Convert() {
    if (!gDocument->imageWindow || gDocument->Test(Flag::busy)) return;
    if (gPathCount > 0 && AskQuestion(kStrConvertAgain) != kAnswerYes) return;
    convert_->setEnabled(false);
    save_->setEnabled(false);
    ShowStatus(ConvertImage(false));
    gView->FitToImage();
    UpdateState();
  }

  void SaveAs() {
    if (!gDocument->imageWindow || gPathCount == 0 || gDocument->Test(Flag::busy)) return;
    SaveArtAs();  // the dialog is the shell hook below
    UpdateState();
  }

 public:
  // Runs the save dialog for the art file; the chosen name goes into the
  // document's art name.
  static bool ChooseArtName(QWidget* parent) {
    QString path = QFileDialog::getSaveFileName(parent, QString(), QString::fromUtf8(gImage->docName),
                                                QStringLiteral("Vexmoor EPS (*.eps);;All Files (*)"));
    if (path.isEmpty()) return false;
    QByteArray utf8 = path.toUtf8();
    if (!CopyName(gImage->docName, utf8.constData())) {
      ShowWarning(kStrNameTooLong);
      return false;
    }
    return true;
  }

 private:
  QAction* convert_ = nullptr;
  QAction* save_ = nullptr;
};


// The shell's window hooks for this program: the image window is the view
// inside the main window.
WindowHandle CreateImageWindow() {
  gView->FitToImage();
  return gView;
}
void DestroyImageWindow(WindowHandle) { gView->update(); }
void SetTitle(const char* title) {
  if (gMain) gMain->setWindowTitle(QString::fromUtf8(title));
}
void RefreshImage() {
  gView->update();
  if (gMain) gMain->UpdateState();
}
Status SaveArtAsDialog() { return MainWindow::ChooseArtName(gMain) ? Done() : Cancelled(); }

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  StartProgram();
  InstallQtBackend();

  MainWindow window;
  gMain = &window;
  SetQtMessageParent(&window);
  gShellHooks.createImageWindow = CreateImageWindow;
  gShellHooks.destroyImageWindow = DestroyImageWindow;
  gShellHooks.setTitle = SetTitle;
  gShellHooks.refreshImage = RefreshImage;
  gShellHooks.saveArtAsDialog = SaveArtAsDialog;
  window.show();

  // One image file name on the command line is opened at start.
  QStringList args = app.arguments();
  if (args.size() > 1) window.OpenPath(args.at(1));

  int result = app.exec();
  gMain = nullptr;
  return result;
}
