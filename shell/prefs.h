// The preferences file "TS.PRF" and the settings presets file "TS.SET": one
// layout for both (a 6-byte header, the 736-byte preferences record, then
// 68-byte presets in the settings file or 38-byte custom colors in the
// preferences file), reading with the recovery rules for earlier versions and
// big-endian files, writing at exit, the defaults, the list of named settings
// presets with the rules of the Settings dialog, and dialog placement.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "core/status.h"
#include "engine/settings.h"

inline constexpr char kPrefsFileName[] = "TS.PRF";
inline constexpr char kSettingsFileName[] = "TS.SET";
inline constexpr char kHelpFileName[] = "TS.HLP";

inline constexpr uint32_t kPrefsMagic = 0xFEEDB0B8u;  // bytes B8 B0 ED FE on disk
inline constexpr int16_t kPrefsVersion = 2;
inline constexpr int kPrefsHeaderSize = 6;
inline constexpr int kPrefsRecordV1Size = 214;      // version 1 record
inline constexpr int kPrefsRecordBigEndianSize = 244;  // version 2 record of big-endian machines
inline constexpr int kMaxPresets = 500;
inline constexpr int kDialogPositionCount = 38;

// ---------------------------------------------------------------------------
// Files.

// The folder that holds "TS.PRF", "TS.SET" and "TS.HLP": the program's own
// folder when it is writable, else the user's configuration folder (created
// when missing).
const char* PrefsFolder();

// Reads an open preferences file (settingsFile false) or settings presets file
// (true). Shows message 361 for a version 1 file; an invalid file shows
// message 40 and falls back to the defaults (preferences), or message 83 and
// keeps the presets read before the fault (settings). Done when the file was
// valid. The caller closes the file.
Status ReadPrefsFile(int16_t file, bool settingsFile);
// Writes a created file anew. Shows message 39 (preferences) or 82 (settings)
// on failure and returns it.
Status WritePrefsFile(int16_t file, bool settingsFile);

// Start-up: points the records, builds the file paths, reads both files (or
// takes the defaults), makes sure the "Defaults" preset exists and applies the
// selected preset.
void LoadPreferences();
// Exit: writes both files. Failed when either could not be written (its
// message was shown); an earlier file on disk is then left as it was.
Status SavePreferences();

// The default preferences and settings: every preset and custom color
// deleted, the conversion settings at their defaults, the defaults applied
// to the working copy of the preferences (gPrefsEdit), which then becomes
// gPrefs, and the single preset "Defaults".
void SetDefaults();
// Sets the fields of `record` that have defaults (flags bits, preview,
// formats, thickness, counts, wand tolerance, dialog and window positions,
// folders) and leaves every other bit and byte as it was.
void ApplyDefaultPrefs(PrefsRecord* record);
// A cleared record with the defaults applied and "Defaults" as the selected
// preset (no side effects).
void DefaultPrefsRecord(PrefsRecord* record);

// ---------------------------------------------------------------------------
// The settings presets. The count is `presetCount` of gPrefs; the records
// are reached through `settingsPresetList` of the document record.
int PresetCount();
// nullptr outside the list. Valid until the list changes.
ConversionSettings* PresetAt(int index);
// Appends a copy of `settings` (the new entry in `*added`); Failed after
// message 305 (500 presets) or 237 (memory), `*added` then nullptr.
Status AddPreset(const ConversionSettings* settings, ConversionSettings** added);
// Removes an entry. "Defaults" is refused with message 252.
Status DeletePreset(int index);
// Renames an entry. Renaming "Defaults" is refused with message 254; the
// name is cut to 31 characters.
Status RenamePreset(int index, const char* name);
// Exact (case-sensitive) whole-name match; -1 when none.
int FindPreset(const char* name);
// Empties the list and releases its memory.
void ClearPresets();

// The name check of the Settings dialog (Create and OK). `selected` is the
// entry being named (-1 for a new one or the unsaved extra entry). Done when
// the name may be used; otherwise shows and returns Failed with message 135
// (empty), 312 (the reserved "New Option") or 136 (already in use).
Status CheckPresetName(const char* name, int selected);

// Copies the selected preset into the current settings: the name stored in
// the preferences when "Restore Selected Settings on Startup" is on, else
// "Defaults". False when no preset has that name.
bool ApplySelectedPreset();

// ---------------------------------------------------------------------------
// Dialog placement. Positions are stored per index (0 to 37) as top, left.
struct ScreenGeometry {
  int32_t width;
  int32_t height;
  int32_t menuBarHeight;  // the height of the system menu bar
};
struct DialogPlace {
  int32_t left;
  int32_t top;
  bool centered;
};
// Where a dialog of the given size goes. Index -1, or the positions preference
// off (for any index but the toolbox's 0), centres it; a usable stored pair is
// taken as it is; (0, 0) centres; any other pair is replaced by the centred
// position, which is stored in both copies of the preferences.
DialogPlace PlaceDialog(int index, int32_t width, int32_t height, const ScreenGeometry& screen);
// A dialog's position when it closes, stored in both copies.
void RecordDialogPosition(int index, int32_t left, int32_t top);
// "Save Dialog Box and Window Positions" turned on in the General Preferences
// dialog: asks question 258 whether to use the previous positions; No clears
// the first 18 stored positions in both copies and shows message 259.
void AskKeepPositions();
