// The Color/Grayscale Setup dialog's logic without its window: which
// controls are enabled in each posterization mode, what the "Maximum # of
// colors:" box shows, the range checks of the typed values with their
// messages, Defaults, Preview and OK. A window keeps a ColorSetupState for as
// long as it is open, shows gConvSettingsEdit through it and calls these
// functions; they work on gConvSettingsEdit and commit it to gConvSettings
// only on a successful OK.
#pragma once

#include <cstdint>

#include "engine/settings.h"

// What the dialog needs to know about the open document.
struct ColorSetupContext {
  bool grayImage;  // the open image has one sample per pixel
  bool multiBit;   // an image of more than one bit per sample is open
  bool artShown;   // there are paths
};
// The context of the document that is open now.
ColorSetupContext CurrentColorSetupContext();

// The boxes whose typed value is range-checked, in the order OK checks them.
enum ColorField : int {
  kFieldComplexity = 0,
  kFieldMaxColors,
  kFieldThreshold,
  kFieldContrast,
  kFieldBoost,
  kColorFieldCount
};

// The state of one opening of the dialog.
struct ColorSetupState {
  int32_t typed[kColorFieldCount];  // what each box holds
  bool previewNoteShown;            // the false-color note is shown once per opening
  bool previewShown;                // the image shows a preview of the separation
};

// Which controls are enabled (and whether "Use Custom Colors" is one of the
// list's items).
struct ColorSetupEnabling {
  bool customItem;         // "Use Custom Colors" is offered
  bool thresholdChoice;    // the "Threshold"/"Contrast" choice
  bool thresholdBox;       // Threshold percent box and slider
  bool contrastBox;        // Contrast percent box and slider, and "Boost"
  bool boostBox;           // Boost percent box
  bool complexity;         // Complexity box and slider, "Reduce detail"
  bool averaging;          // "Color averaging"
  bool maxColors;          // "Maximum # of colors:" box
  bool addNewColors;       // "Add new colors to custom color list"
  bool customOptions;      // "Tagged colors only", "Generate tints"
  bool preview;            // "Preview"
};
ColorSetupEnabling ColorSetupEnable(const ConversionSettings* s, const ColorSetupContext& ctx);

// What the "Maximum # of colors:" box shows: maxColors in Limited Colors;
// in Use Custom Colors the number of colors a conversion can use (tagged
// or all custom colors, times 10 with tints); -1 (empty) otherwise.
int MaxColorsShown(const ConversionSettings* s, const ColorSetupContext& ctx);

// Opening: gConvSettingsEdit becomes the committed settings and the boxes
// show it (a maxColors of 0 reads as 16).
void OpenColorSetup(ColorSetupState* state);

// The result of a range check: 0, or the message shown; the field to focus.
struct ColorFieldCheck {
  int message;
  int field;
};
// Checks one box (on leaving it): a value out of range is replaced by the
// nearest limit, in the box and in gConvSettingsEdit, and its message is
// shown. A value in range is stored.
ColorFieldCheck CheckColorField(ColorSetupState* state, int field);
// Checks every box in order; stops at the first one out of range.
ColorFieldCheck CheckColorFields(ColorSetupState* state);

// "Defaults": the color group at its built-in defaults; the boxes follow.
void ColorSetupDefaults(ColorSetupState* state);

// "Preview": checks the boxes, then separates the image with the edited
// settings for display (the black-and-white bitmap, or the false-color
// palette); with posterization on the note 1007 is shown once per opening.
// False when a box was out of range or the preview is not available.
bool ColorSetupPreview(ColorSetupState* state, const ColorSetupContext& ctx);

// "OK": checks the boxes; with posterization on and a method that only a
// two-color conversion can use (Centerline, Line recognition, Reverse Image,
// White Lines), asks message 1011: Yes turns those off and Outline on, No
// turns posterization off; either way the dialog stays. Returns true when
// the settings were committed (settingsChanged is set) and the dialog
// closes.
bool ColorSetupOK(ColorSetupState* state, const ColorSetupContext& ctx);
