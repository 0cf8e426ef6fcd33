#include "cli/workers.h"

#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

constexpr int kMaxWorkers = 64;

// Parent: the workers, for passing a stop request on.
pid_t gWorkerPid[kMaxWorkers];
volatile sig_atomic_t gWorkerCount = 0;
// Worker: set by a stop request, read by the event pump.
volatile sig_atomic_t gStopRequested = 0;

// Worker state: the pipe to the parent, the claim counter shared by all
// workers, the item this worker holds and the list position it is at.
struct WorkerState {
  int index = 0;
  int pipe = -1;
  int* counter = nullptr;
  int held = -1;
  int position = 0;
  int lastPercent = -2;
  const WorkerCallbacks* callbacks = nullptr;
};
WorkerState gWorker;

void ParentStop(int sig) {
  for (int i = 0; i < gWorkerCount; ++i)
    if (gWorkerPid[i] > 0) kill(gWorkerPid[i], sig);
}

void WorkerStop(int) { gStopRequested = 1; }

// One line to the parent: worker number, kind letter, text. One write below
// PIPE_BUF, so that the lines of several workers never mix.
void Send(char kind, const std::string& text) {
  // A message may hold line ends: they travel as "\\n" (and a backslash as
  // two).
  std::string escaped;
  for (char c : text) escaped += c == '\n' ? std::string("\\n") : c == '\\' ? std::string("\\\\") : std::string(1, c);
  std::string line = std::to_string(gWorker.index) + " " + kind + escaped;
  if (line.size() > PIPE_BUF - 1) line.resize(PIPE_BUF - 1);
  line += '\n';
  for (size_t done = 0; done < line.size();) {
    ssize_t n = write(gWorker.pipe, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void WorkerBeep() {}

void WorkerProgress(const ProgressModel& m) {
  int percent = m.open ? m.percent : -1;
  if (percent == gWorker.lastPercent) return;
  gWorker.lastPercent = percent;
  Send('P', std::to_string(percent));
}

PumpResult WorkerPump() {
  PumpResult r;
  r.closeRequest = gStopRequested != 0;
  return r;
}

// An item of the list is this worker's when the shared counter hands it
// its index; the counter only grows, so every item goes to one worker.
bool WorkerClaim() {
  int position = gWorker.position++;
  if (gWorker.held < position) gWorker.held = __atomic_fetch_add(gWorker.counter, 1, __ATOMIC_SEQ_CST);
  return gWorker.held == position;
}

// The item's lines go to the parent as text; its status and name follow for
// the parent's count and list.
void WorkerItemDone(const BatchItemReport& r) {
  gWorker.callbacks->itemDone(r);
  Send('R', std::to_string(r.status) + "\t" + r.source);
}

int NoDialog() { return 1; }
void NoToolbox(bool) {}

[[noreturn]] void RunWorker(int index, int pipe, int* counter, const WorkerCallbacks& callbacks) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = WorkerStop;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
  gWorker.index = index;
  gWorker.pipe = pipe;
  gWorker.counter = counter;
  gWorker.callbacks = &callbacks;
  InstallBackend(PlatformBackend{callbacks.showMessage, WorkerBeep, WorkerProgress, WorkerPump});
  callbacks.startWorker();
  gBatchHooks = BatchHooks{NoDialog, NoDialog, NoToolbox, WorkerItemDone, WorkerClaim};
  RunBatchList();
  ClearBatchList();
  callbacks.endWorker();
  close(pipe);
  _exit(0);
}

}  // namespace

bool TellParent(const std::string& line) {
  if (gWorker.pipe < 0) return false;
  std::string text = line;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  Send('T', text);
  return true;
}

bool RunBatchInWorkers(int workers, const WorkerCallbacks& callbacks) {
  int total = BatchCount();
  if (workers > total) workers = total;
  if (workers > kMaxWorkers) workers = kMaxWorkers;
  if (workers < 1) workers = 1;
  std::vector<std::string> items;
  for (int i = 0; i < total; ++i) items.push_back(std::string(BatchEntryAt(i)->folder) + BatchEntryAt(i)->name);

  int fds[2];
  if (pipe(fds) != 0) return false;
  void* shared = mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  int* counter = static_cast<int*>(shared);
  *counter = 0;

  // A stop request reaches the parent and (from a terminal) every worker;
  // the parent passes it on as well, for a request sent to it alone.
  struct sigaction sa, saved[3];
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = ParentStop;
  const int signals[3] = {SIGINT, SIGTERM, SIGHUP};
  for (int k = 0; k < 3; ++k) sigaction(signals[k], &sa, &saved[k]);

  fflush(stdout);
  fflush(stderr);
  gWorkerCount = 0;
  for (int i = 0; i < workers; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      RunWorker(i, fds[1], counter, callbacks);
    }
    if (pid < 0) break;
    gWorkerPid[i] = pid;
    gWorkerCount = i + 1;
  }
  close(fds[1]);
  int started = gWorkerCount;

  std::vector<int> percent(static_cast<size_t>(workers), -1);
  std::set<std::string> reported;
  int done = 0;
  std::string pending;
  char buffer[4096];
  auto draw = [&] {
    int sum = done * 100;
    for (int p : percent) sum += p > 0 ? p : 0;
    std::string text = std::to_string(done) + " of " + std::to_string(total) + " files, " +
                       std::to_string(started) + (started == 1 ? " worker" : " workers");
    callbacks.progress(total > 0 ? sum / total : 100, text.c_str());
  };
  if (started > 0) draw();
  for (;;) {
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      std::string line = pending.substr(0, end);
      size_t blank = line.find(' ');
      if (blank == std::string::npos || blank + 1 >= line.size()) continue;
      size_t worker = static_cast<size_t>(atoi(line.c_str()));
      char kind = line[blank + 1];
      std::string text;
      for (size_t i = blank + 2; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
          ++i;
          text += line[i] == 'n' ? '\n' : line[i];
        } else {
          text += line[i];
        }
      }
      if (kind == 'T') {
        callbacks.progress(-1, "");
        callbacks.print(text.c_str());
      } else if (kind == 'P' && worker < percent.size()) {
        percent[worker] = atoi(text.c_str());
      } else if (kind == 'R') {
        size_t tab = text.find('\t');
        if (tab == std::string::npos) continue;
        callbacks.counted(atoi(text.c_str()));
        reported.insert(text.substr(tab + 1));
        ++done;
        if (worker < percent.size()) percent[worker] = -1;
      }
      draw();
    }
  }
  close(fds[0]);
  for (int i = 0; i < started; ++i)
    while (waitpid(gWorkerPid[i], nullptr, 0) < 0 && errno == EINTR) {
    }
  gWorkerCount = 0;
  for (int k = 0; k < 3; ++k) sigaction(signals[k], &saved[k], nullptr);
  munmap(shared, sizeof(int));
  callbacks.progress(-1, "");
  if (started == 0) return false;
  for (const std::string& item : items)
    if (!reported.count(item)) callbacks.notRun(item.c_str());
  ClearBatchList();
  return true;
}
