// Standard input as an image and standard output as the art file: the input
// is spooled into a file of the scratch folder (the readers seek, and the
// kind is told by the content), the art is written to a scratch file and
// copied out only once it is complete.
#pragma once

#include <string>

// Copies all of standard input into `path`. False when nothing came or the
// file could not be written.
bool SpoolStandardInput(const std::string& path);
// Copies the file to standard output. False when a write failed.
bool CopyToStandardOutput(const std::string& path);
