// The /K value: key items joined by ":", each "position[,type[,order]]".
#pragma once

#include "driver/options.h"

// Fills options.sortKeys, or ends the run with 3001 on a malformed value.
void ParseSortKeys(CsvSortOption& options, const char* value);
