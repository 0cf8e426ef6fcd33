// Numbers of the strings that the program shows without a number of their
// own in the tables it was built from. They live above 1000 so that they never
// meet a numbered string.
#pragma once

constexpr int kStrLineRecognizing = 1001;  // "Line Recognizing -"
