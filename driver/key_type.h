// The types of sort key. A switch over KeyType names every type and has no
// default, so that the compiler shows each place a new type must be handled;
// its letter and its words in the usage text are msg::kKeyTypeNames
// (HACKING.md: adding a key type).
#pragma once

#include <cstdint>

// How a key compares its fields.
enum class KeyType : uint32_t {
  kText,            // S: bytes as unsigned values
  kTextIgnoreCase,  // I: ASCII letters folded
  kNumber,          // N
  kDateTime,        // D
};
