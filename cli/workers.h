// A batch spread over worker processes. The engine keeps one thread and its
// global state, so parallel work means processes: each worker is a fork of
// the command-line program with the whole batch list (so that the naming,
// skip and replace rules and the check that no art replaces a listed image
// are exactly those of one process), and converts the items it claims from a
// counter shared by all workers, in list order. Workers send their reports,
// messages and progress through one pipe; the parent prints them and one
// combined progress line. A stop request (Ctrl+C, a termination request)
// reaches every worker: each stops its item, whose art file is then not
// written, and converts nothing more.
#pragma once

#include <string>

#include "shell/batch.h"

struct WorkerCallbacks {
  // In each worker, first and last: its own scratch folder.
  void (*startWorker)();
  void (*endWorker)();
  // In each worker: the messages shown during the batch, and the lines of
  // each item as it finishes (told through TellParent).
  int (*showMessage)(int id, int kind, const char* text);
  void (*itemDone)(const BatchItemReport& report);
  // In the parent: a line a worker told; the status of each item as it
  // finishes; each item that no worker reached (the run was stopped first,
  // or its worker died).
  void (*print)(const char* line);
  void (*counted)(int status);
  void (*notRun)(const char* source);
  // In the parent: the combined progress (0 to 100) with its text; a
  // negative percent takes the line away.
  void (*progress)(int percent, const char* text);
};

// Runs the batch list (already checked for duplicate names) in `workers`
// processes, at most one per item, and empties the list. False, with the
// list untouched, when no worker could be started.
bool RunBatchInWorkers(int workers, const WorkerCallbacks& callbacks);

// In a worker: sends a line of text (ending with its line end) to the
// parent, which prints it. False outside a worker.
bool TellParent(const std::string& line);
