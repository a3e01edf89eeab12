// The run from start to end: banner, command line, sort or merge, final code.
// driver/ holds two kinds of file: the run (main.cc and run.*), which calls
// every other folder, and the ground floor that every folder builds on (the
// log, the messages, the exit codes and limits, the options records, the text
// helpers), which includes nothing of the run.
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
