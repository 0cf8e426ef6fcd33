// Message services, progress window and event pump, with the headless
// backend: scripted answers, a message log, a progress model and a queue of
// test events.
#include <cstdio>

#include "platform/platform.h"

namespace {

std::vector<int> gScript;
size_t gScriptPos = 0;
std::vector<MessageLogEntry> gLog;
void (*gEcho)(const MessageLogEntry&) = nullptr;
ProgressModel gProgress;
bool gStopPressed = false;
bool gPressStopOnPump = false;
bool gQueuedEscape = false;
bool gQueuedClose = false;
int gPumps = 0;

int DefaultAnswer(int kind) {
  switch (kind) {
    case kMessageWarning:
    case kMessageInformation:
    case kMessageOKCancel: return kAnswerOK;
    default: return kAnswerYes;
  }
}

int HeadlessShow(int, int kind, const char*) {
  if (kind == kMessageWarning || kind == kMessageInformation) return kAnswerOK;
  if (gScriptPos < gScript.size()) return gScript[gScriptPos++];
  return DefaultAnswer(kind);
}

void HeadlessBeep() {}
void HeadlessProgress(const ProgressModel&) {}

PumpResult HeadlessPump() {
  PumpResult r;
  r.escape = gQueuedEscape;
  r.closeRequest = gQueuedClose;
  gQueuedEscape = gQueuedClose = false;
  if (gPressStopOnPump) {
    gPressStopOnPump = false;
    gStopPressed = true;
  }
  return r;
}

PlatformBackend gBackend{HeadlessShow, HeadlessBeep, HeadlessProgress, HeadlessPump};

int Show(int id, int kind, const char* text) {
  const char* shown = text ? text : LoadString(id);
  int answer = gBackend.showMessage(id, kind, shown);
  gLog.push_back(MessageLogEntry{id, kind, shown, answer});
  if (gEcho) gEcho(gLog.back());
  return answer;
}

}  // namespace

void InstallBackend(const PlatformBackend& backend) { gBackend = backend; }
void InstallHeadlessBackend() {
  gBackend = PlatformBackend{HeadlessShow, HeadlessBeep, HeadlessProgress, HeadlessPump};
}

void ShowWarning(int id, const char* text) { Show(id, kMessageWarning, text); }
void ShowInformation(int id, const char* text) { Show(id, kMessageInformation, text); }
int AskQuestion(int id, const char* text) { return Show(id, kMessageQuestion, text); }
int AskYesNoCancel(int id, const char* text) { return Show(id, kMessageYesNoCancel, text); }
int AskOKCancel(int id, const char* text) { return Show(id, kMessageOKCancel, text); }
void Beep() { gBackend.beep(); }

void ScriptAnswers(const std::vector<int>& answers) {
  gScript = answers;
  gScriptPos = 0;
}
const std::vector<MessageLogEntry>& MessageLog() { return gLog; }
void ClearMessageLog() { gLog.clear(); }
void SetMessageEcho(void (*echo)(const MessageLogEntry&)) { gEcho = echo; }

void ProgressOpen(const char* title, bool batchLine) {
  gProgress = ProgressModel{};
  gProgress.open = true;
  gProgress.title = title;
  if (!batchLine) gProgress.batchText.clear();
  gStopPressed = false;
  gBackend.progressChanged(gProgress);
}

void ProgressSetText(const char* text) {
  gProgress.text = text;
  ++gProgress.shows;
  gBackend.progressChanged(gProgress);
}

void ProgressSetBatchText(const char* text) {
  gProgress.batchText = text;
  gBackend.progressChanged(gProgress);
}

void ProgressSetPercent(int percent) {
  gProgress.percent = percent;
  ++gProgress.shows;
  gBackend.progressChanged(gProgress);
}

void ProgressClose() {
  gProgress.open = false;
  gProgress.percent = -1;
  gBackend.progressChanged(gProgress);
}

const ProgressModel& Progress() { return gProgress; }

bool ProgressStopPressed() {
  bool r = gStopPressed;
  gStopPressed = false;
  return r;
}

void ProgressPressStop() { gPressStopOnPump = true; }
void ProgressReportStop() { gStopPressed = true; }

// The backend reports Stop presses by calling this through the pump.
PumpResult PumpEvents() {
  ++gPumps;
  return gBackend.pump();
}

void QueueEscape() { gQueuedEscape = true; }
void QueueCloseRequest() { gQueuedClose = true; }
int PumpCount() { return gPumps; }
