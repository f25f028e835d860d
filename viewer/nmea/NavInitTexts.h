#pragma once

// Texts for a navigation initialisation from a position, inserted into the
// sentence as they stand (each at most 11 characters are used).
struct NavInitTexts {
  char latitude[12];
  char longitude[12];
  char timeOfWeek[12];
  char weekNumber[12];
};
