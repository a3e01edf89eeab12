// The run from start to end: banner, command line, sort or merge, final code.
#pragma once

// Prints the version banner as the first log line; nothing when the program's
// file has no version information.
void PrintBanner();

// Prints the line "name version" (TARNSEK 1.0.0.0) alone, without a timestamp:
// what --version asks for.
void PrintVersion();

// The whole run; returns the exit code of a normal end (0), or ends the
// process through FatalError.
int RunTarnsek(int argc, char** argv);
