// The host interface: the calls that go up. Code below the shell never
// includes a header of the shell or of a program; when it must tell the
// program something (a snapshot for Undo, a redraw, a new title, the
// interactive-thinning pause, feedback while a conversion runs) it calls
// through `gHost`. The shell fills the table at start-up (InstallShellHost,
// shell/startup.h) and a program may then set the members it shows itself,
// such as the feedback calls.
//
// Every member is always callable: the headless defaults do nothing, so the
// folders below the shell run and are tested without it. Each member says
// when it is called and what the host may read at that moment; the data
// itself stays in the records of the folder that calls (the host includes
// their headers, which lie below it).
#pragma once

#include <cstdint>

struct HostInterface {
  // Before the art or the pixel image changes in a way that Undo can take
  // back: `kind` is an UndoKind (core/records.h). The conversion records
  // kUndoConvert when it starts and kUndoThinMore when Thin More runs over a
  // skeleton shown in the template's place.
  void (*recordUndo)(int kind);
  // The working bitmap or the art changed enough to be seen: redraw the
  // image window (nothing without one).
  void (*refreshImageWindow)();
  // The path count or the names changed: retitle the image window.
  void (*updateWindowTitle)();
  // `busy`, `artOutputRunning` or `interactiveThinning` of the document
  // record changed (a conversion started, ended, paused or resumed): grey or
  // enable the menus and redraw the window's header.
  void (*conversionStateChanged)();
  // The Skeletonizing window of interactive thinning opened, closed or shows
  // a new step count; its model is ThinningWindow() (engine/thinning_model.h).
  void (*thinningWindowChanged)();
  // Feedback while a conversion runs. polygonBuilt: the polygon builder
  // finished the current object (its vertices: vertexCount, GetVertex in
  // engine/polygon.h). junctionsCollected: the thinning collected the
  // skeleton's junction points (JunctionList, junctionCount in
  // engine/junctions.h).
  void (*polygonBuilt)();
  void (*junctionsCollected)();
};

extern HostInterface gHost;

// Puts every member back to its headless default (start of the program, and
// tests).
void InstallHeadlessHost();
