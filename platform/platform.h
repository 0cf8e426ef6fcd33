// The thin wrapper layer: the small vocabulary that the rest of the program
// uses instead of the operating system and the windowing toolkit. Files with
// small integer handles, zero-filled movable memory handles, ticks, the
// program's own folder, library loading, message boxes, the progress window,
// the event pump and a drawing context.
//
// Two backends exist. The headless backend (the default, used by the tests and
// the command line) answers message boxes from a script and logs them, keeps
// the progress window as a model and records drawing calls. The Qt backend
// (platform/qt_backend.h, linked only into the desktop program and its test)
// shows real dialogs and paints with QPainter. Nothing outside platform/ and
// the desktop entry point includes a Qt header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Fixed name buffers. Every path and name of the program lives in a buffer of
// kNameBufferSize bytes: at most 254 characters and the terminating NUL.
constexpr int kNameBufferSize = 255;

// Copies src into a kNameBufferSize buffer. Returns false, leaving dst empty,
// when src does not fit: a longer path is refused, never cut.
bool CopyName(char* dst, const char* src);
// Appends src to the name in dst; false (dst unchanged) when it would not fit.
bool AppendName(char* dst, const char* src);

// The folder separator that ends every folder name.
constexpr char kPathSeparator = '/';

// ---------------------------------------------------------------------------
// Files. Handles are small positive integers; -1 (kNoFile) means none.
constexpr int16_t kNoFile = -1;

enum FileMode : int { kFileRead = 0, kFileWrite = 1, kFileReadWrite = 2 };
enum SeekOrigin : int { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };

int16_t FileOpen(const char* path, int mode);  // existing file; -1 on failure
int16_t FileCreate(const char* path);          // created empty (truncated); -1 on failure
int FileClose(int16_t file);                   // 0 ok, -1 bad handle
int FileDelete(const char* path);              // 0 ok, -1 failure
int32_t FileSeek(int16_t file, int32_t offset, int origin);  // new position, or -1
int32_t FileTell(int16_t file);
int32_t FileRead(int16_t file, void* bytes, int32_t count);         // bytes read, -1 on error
int32_t FileWrite(int16_t file, const void* bytes, int32_t count);  // bytes written, -1 on error
int32_t FileLength(int16_t file);  // -1 on error
bool FileExists(const char* path);
int FileLastError();  // errno of the last failed file call, for "Error %d opening input file."
int FileOpenCount();  // files currently open (leak checks in tests)

// Test hook: after `bytes` more bytes have been written to any file, writes
// fall short (as on a full disk). -1 turns the hook off.
void FileFailWritesAfter(int64_t bytes);

// Only regular files are opened: FileOpen refuses a folder (EISDIR) and a
// pipe, device or socket (ENODEV) without waiting on it, so that a FIFO
// named as input or settings file never blocks the program.

// Safe replacement, the one way every user file (art, pixel images,
// preferences, presets, exported colors) is written. FileCreateReplacing
// makes a temporary file in the target's folder; its handle is used like any
// other. FileCommit makes the bytes durable and puts the temporary in the
// target's place with one rename; FileDiscard (and FileClose, which never
// commits) removes it. Until the commit the old file stays exactly as it
// was, so a full disk, a stop or a crash never destroys it. A symbolic link
// is followed: the file it names is replaced. Refused (-1) when the target
// exists but is not a regular file (a folder, pipe or device is never
// replaced) or is not writable (a locked file stays locked).
int16_t FileCreateReplacing(const char* path);
int FileCommit(int16_t file);   // 0 ok; -1 failure: the temporary is gone, the target untouched
void FileDiscard(int16_t file);

// What a name stands for (symbolic links followed).
enum FileKind : int { kFileMissing = 0, kFileRegular = 1, kFileFolder = 2, kFileSpecial = 3 };
int FileKindOf(const char* path);
// True when both names exist and are the same file (device and inode, so
// that links and different spellings of a name count as the same file).
bool SameFile(const char* a, const char* b);
// True when `path` is the file open as `file`.
bool SameFileAsOpen(int16_t file, const char* path);

// ---------------------------------------------------------------------------
// Memory handles: zero-filled movable blocks, locked while in use. Handles
// are 32-bit numbers so that records holding one keep their stored size;
// 0 (kNoMem) means none.
using MemHandle = uint32_t;
constexpr MemHandle kNoMem = 0;

MemHandle MemAlloc(size_t size);  // zero-filled; kNoMem on failure
bool MemResize(MemHandle h, size_t size);  // grows zero-filled; false (unchanged) on failure
void* MemLock(MemHandle h);
void MemUnlock(MemHandle h);
size_t MemSize(MemHandle h);
void MemFree(MemHandle h);  // accepts kNoMem
int MemLiveCount();         // blocks currently allocated (leak checks in tests)

// Plain zero-filled buffers that obey the same failure hooks (for blocks that
// are never moved, such as the working bitmap). nullptr on failure.
void* MemAllocPtr(size_t size);
void MemFreePtr(void* p);
// zlib's allocator and release over MemAllocPtr (the zalloc and zfree of a
// z_stream), so that the failure hooks and leak checks reach zlib too.
void* ZlibAlloc(void* opaque, unsigned items, unsigned size);
void ZlibFree(void* opaque, void* block);

// Test hooks: make the next `count` allocations fail, or every allocation of
// more than `bytes` bytes (0 turns that off). Both apply to MemAlloc,
// MemResize and MemAllocPtr. MemResetFailures turns every hook off.
void MemFailNext(int count);
void MemFailAbove(size_t bytes);
void MemResetFailures();

// ---------------------------------------------------------------------------
// Time in ticks of 1/60 second (milliseconds x 3 / 50).
uint32_t TickCount();
// Test hook: a tick source to use instead of the clock (nullptr restores it).
void SetTickSource(uint32_t (*source)());

// ---------------------------------------------------------------------------
// The program's own folder (ends with the separator), and the places that
// stand in for fixed system places.
const char* ModuleFolder();
void SetModuleFolder(const char* folder);  // tests and the command line
const char* TempFolder();    // the system's temporary folder, ends with the separator
const char* ConfigFolder();  // $XDG_CONFIG_HOME/tessary/ (or ~/.config/tessary/)
bool FolderWritable(const char* folder);
bool MakeFolder(const char* folder);  // creates it (and its parents) when missing

// ---------------------------------------------------------------------------
// Library loading by path.
using LibHandle = void*;
LibHandle LibLoad(const char* path);  // nullptr on failure
void* LibSymbol(LibHandle lib, const char* name);
void LibFree(LibHandle lib);

// ---------------------------------------------------------------------------
// The string table: every text the user sees, by number.
const char* LoadString(int id);  // "" for an unknown number
// Formats string `id` as printf does with the given arguments.
std::string FormatString(int id, ...);

// ---------------------------------------------------------------------------
// Message services. Every message is shown by string number; the text is the
// table's string, already formatted by the caller when it has arguments.
enum MessageAnswer : int {
  kAnswerOK = 1,
  kAnswerCancel = 2,
  kAnswerYes = 6,
  kAnswerNo = 7,
};
enum MessageKind : int {
  kMessageWarning = 0,    // exclamation, OK, title "Quenda Tessary"
  kMessageQuestion = 1,   // Yes/No, title "Question"
  kMessageYesNoCancel = 2,
  kMessageOKCancel = 3,
  kMessageInformation = 4,  // information icon, OK, title "Quenda Tessary"
};

// Shows string `id` as a warning box. `text` (when non-null) is the formatted
// text; otherwise the string itself is shown.
void ShowWarning(int id, const char* text = nullptr);
// The same as an information box: for news that is no fault.
void ShowInformation(int id, const char* text = nullptr);
int AskQuestion(int id, const char* text = nullptr);     // kAnswerYes or kAnswerNo
int AskYesNoCancel(int id, const char* text = nullptr);  // Yes, No or Cancel
int AskOKCancel(int id, const char* text = nullptr);     // OK or Cancel
void Beep();

// One shown message, as the headless backend logs it.
struct MessageLogEntry {
  int id;
  int kind;
  std::string text;
  int answer;
};
// Headless: answers for the next questions, taken in order; when the script
// is empty a question is answered with its default (Yes, Yes, OK).
void ScriptAnswers(const std::vector<int>& answers);
const std::vector<MessageLogEntry>& MessageLog();
void ClearMessageLog();
// Where headless messages are echoed as they are shown (the command line sets
// stderr); nullptr echoes nowhere.
void SetMessageEcho(void (*echo)(const MessageLogEntry&));

// ---------------------------------------------------------------------------
// Progress window: a modeless window titled by the caller, with a text line,
// a bar and a Stop button; in a batch a second text line.
struct ProgressModel {
  bool open = false;
  std::string title;
  std::string text;
  std::string batchText;
  int percent = -1;
  int shows = 0;  // how many times the bar or text changed
};
void ProgressOpen(const char* title, bool batchLine);
void ProgressSetText(const char* text);
void ProgressSetBatchText(const char* text);
void ProgressSetPercent(int percent);
void ProgressClose();
const ProgressModel& Progress();
// True once after the Stop button (or the window's close box) was pressed.
bool ProgressStopPressed();
// Headless test hook: press Stop on the next pump.
void ProgressPressStop();
// Called by a backend when its Stop button or close box was pressed.
void ProgressReportStop();

// ---------------------------------------------------------------------------
// Event pump used by the cancel poll: handles pending events and reports
// whether Escape or a close request arrived since the last call.
struct PumpResult {
  bool escape = false;
  bool closeRequest = false;
};
PumpResult PumpEvents();
// Headless test hook: the next pump reports Escape (or a close request).
void QueueEscape();
void QueueCloseRequest();
int PumpCount();  // how many times the queue was looked at

// ---------------------------------------------------------------------------
// Drawing context. Coordinates are device pixels after the window origin.
struct DrawRect {
  int32_t left, top, right, bottom;
};

class DrawContext {
 public:
  virtual ~DrawContext() = default;
  virtual void SetPen(uint32_t rgb, int width) = 0;  // solid pen, 0x00RRGGBB
  virtual void SetBrush(uint32_t rgb) = 0;           // solid brush
  virtual void SetXorMode(bool on) = 0;
  virtual void SetClip(const DrawRect* rect) = 0;    // nullptr: no clip
  virtual void SetOrigin(int32_t x, int32_t y) = 0;  // window origin
  virtual void BeginPath() = 0;
  virtual void EndPath() = 0;
  virtual void MoveTo(int32_t x, int32_t y) = 0;
  virtual void LineTo(int32_t x, int32_t y) = 0;
  virtual void BezierTo(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3) = 0;
  virtual void CloseFigure() = 0;
  virtual void FillPath() = 0;
  virtual void StrokePath() = 0;
  virtual void FillAndStrokePath() = 0;
  // One-bit bitmap, 1 = black, bit 0x80 leftmost, rows rowBytes apart.
  virtual void BlitBits(int32_t x, int32_t y, const uint8_t* bits, int32_t rowBytes, int32_t width,
                        int32_t height) = 0;
};

// The headless recording context: every call becomes one text line such as
// "moveto 1 2" or "fill", in order.
class RecordingDrawContext : public DrawContext {
 public:
  std::vector<std::string> calls;
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
  void BlitBits(int32_t x, int32_t y, const uint8_t* bits, int32_t rowBytes, int32_t width,
                int32_t height) override;
};

// ---------------------------------------------------------------------------
// Backend hooks. The headless backend is installed at start; the Qt backend
// replaces these hooks with its own.
struct PlatformBackend {
  // Shows a message and returns the answer.
  int (*showMessage)(int id, int kind, const char* text);
  void (*beep)();
  void (*progressChanged)(const ProgressModel& model);
  PumpResult (*pump)();
};
void InstallBackend(const PlatformBackend& backend);
void InstallHeadlessBackend();
