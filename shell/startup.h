// Start-up and shut-down work shared by the desktop program and the command
// line converter.
#pragma once

// Points the records at their defaults, sets the fixed limits, reads the
// preferences and settings presets (LoadPreferences) and deletes stale
// scratch files. The program writes them back with SavePreferences at quit.
void StartProgram();
// The records part of StartProgram alone: the command line converter reads
// no preferences files (its options say everything), keeps its scratch files
// in a folder of its own and must not touch the user's working folder.
void StartRecords();
// Fills the host interface (core/host.h) with the shell's answers: Undo
// snapshots, the image window's redraw and title. StartRecords calls it; a
// program sets the members it shows itself (the Skeletonizing window, the
// conversion feedback) afterwards.
void InstallShellHost();
