// Interrupts: on POSIX systems the signals that a user, a terminal, a timer
// or a batch system sends to stop a run (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF; SIGPIPE and SIGXFSZ
// are ignored and show as failed writes); on Windows Ctrl-C, Ctrl-Break and
// the closing of the console. An interrupt ends the run at once: the run files
// made so far are deleted, nothing more is written to any file or to the log,
// and the process ends the way the interrupt ends a program that does not
// handle it (a POSIX shell sees 128 + the signal's number, 130 for SIGINT).
// The fatal path is no interrupt: its run files stay.
#pragma once

#include <cstdint>

// Installs the handling; an interrupt that the process was started to ignore
// (as nohup does with SIGHUP) stays ignored.
void WatchInterrupts();

// The files an interrupt deletes: names[0 .. *count], both read at the
// moment of the interrupt; names[*count] is a file being written, before the
// count grows, and a null name is skipped. The array and the count must stay
// valid for the rest of the process. Called with interrupts held.
void DeleteOnInterrupt(char* const* names, const int32_t* count, int32_t capacity);

// Between these two calls an interrupt waits: a file made and its name stored,
// or a file deleted and its name cleared, happen together or not at all.
void HoldInterrupts();
void ReleaseInterrupts();
