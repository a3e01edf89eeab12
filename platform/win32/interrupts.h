// Between the files and the interrupt handling of Windows: the system handle
// of every open file, which an interrupt closes so that the run files can be
// deleted (a handle opened with a share mode that denies deletion would
// refuse it).
#pragma once

// Keeps the system handle of an open runtime descriptor, or forgets it with
// null.
void KeepOpenSystemHandle(int descriptor, void* systemHandle);
