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
// Sets the image record's source kind from the last four characters of a
// file name (".tif" 3, ".rvd" 5, ".pcx" 2, ".pnt" 1, ".sun" 0, else -1).
int SourceTypeFromName(const char* name);
