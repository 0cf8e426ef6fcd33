// The one result type of the program's boundaries. Every function that a
// higher folder calls and that can fail, be stopped or be declined returns a
// Status: what happened, and the number of the message that tells the user
// about it. Nothing below the shell shows such a message; the shell shows a
// status (ShowStatus, shell/document.h) where the user is to see it, and a
// batch leaves out what a batch must not wait on.
//
// Inside one operation the passes stop through `gUserAbort`, as every pass
// polls it. A pass that stops the work because something failed says why
// with StopWith; the boundary function that started the work turns the stop
// into its result with StopStatus.
#pragma once

#include <cstdint>

enum StatusKind : uint8_t {
  kStatusDone = 0,       // finished; `message` may still be a notice for the user
  kStatusFailed = 1,     // did not finish, but other work may go on; `message` says why
                         // (0: nothing to tell)
  kStatusStopped = 2,    // the work was stopped (`gUserAbort`): by the user (Escape, the close
                         // request, Stop; no message) or by a failure that stops all work, such
                         // as a full disk or a missing scratch store (`message` says which); a
                         // batch ends here
  kStatusCancelled = 3,  // the user said Cancel (or No) to a question or a dialog
};

struct Status {
  StatusKind kind = kStatusDone;
  int16_t message = 0;  // string number of the message to show; 0 none

  bool ok() const { return kind == kStatusDone; }
  bool operator==(const Status&) const = default;
};

inline Status Done(int16_t notice = 0) { return {kStatusDone, notice}; }
inline Status Failed(int16_t message = 0) { return {kStatusFailed, message}; }
inline Status Stopped(int16_t message = 0) { return {kStatusStopped, message}; }
inline Status Cancelled() { return {kStatusCancelled, 0}; }

// Stops the running operation because of a failure: sets `gUserAbort` and
// keeps `message` as the reason, unless an earlier failure of the same
// operation gave one already.
void StopWith(int16_t message);
// Stops the running operation without a message to show (the user's stop
// request, or a stop that has been accounted for).
void RequestStop();
// The result of the running operation as far as its stop goes: Done while
// `gUserAbort` is clear, else Stopped with the kept reason (0 when the user
// stopped it).
Status StopStatus();
