// The three strings of the banner, read from the program's own file where the
// system keeps version information there.
#pragma once

// Returns false when the program's file has no version information. A value
// the information lacks is left null.
[[nodiscard]] bool GetVersionStrings(const char** internalName, const char** fileVersion,
                                     const char** companyName);
