// The path switches /I, /O, /W and /M: checked against the file system and
// stored in canonical form.
#pragma once

#include <cstdint>

#include "driver/options.h"
#include "platform/paths.h"

// The attribute word of path (kInvalidFileAttributes for null or nothing of
// that name); out receives the canonical form.
uint32_t ResolvePath(const char* path, char (&out)[kMaxPath]);

void SetInputPath(const char* value, CsvSortOption& options);
void SetOutputPath(const char* value, CsvSortOption& options);
void SetWorkDirectory(const char* value, CsvSortOption& options);
void SetMergeFiles(const char* value, CsvSortOption& options);
