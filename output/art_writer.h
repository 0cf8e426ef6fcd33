// The one art entry: writes the art in the output format of the preferences.
#pragma once

// Returns 1 on success, 0 on failure or abort. `scratch` is nonzero for the
// clipboard's scratch file.
int SaveArt(const char* path, int scratch);
