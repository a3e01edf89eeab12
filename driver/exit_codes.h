// Exit codes: each names the class of failure that ended the run. A POSIX
// shell sees the code modulo 256 (1001 -> 233, 3001 -> 185, ...).
#pragma once

namespace exit_code {
inline constexpr int kNormal = 0;              // finished, or the usage text was printed
inline constexpr int kAllocation = 1001;       // an allocation failed
inline constexpr int kOpen = 1002;             // a file could not be opened
inline constexpr int kTempFile = 1003;         // no run file name, or a file not deleted
inline constexpr int kReadWrite = 1004;        // a file could not be read or written
inline constexpr int kInvalidSequence = 2001;  // a record holds an invalid sequence
inline constexpr int kLimit = 2002;            // a fixed limit was exceeded
inline constexpr int kCommandLine = 3001;      // the command line is wrong
inline constexpr int kMissingKey = 4001;       // finished, but a record lacked a key field
}  // namespace exit_code
