// The pivot choice of a range of 513 slots or more, whose 513 sample entries
// name 513 distinct slots; see sort/rank_quicksort.h for the words and the
// shortcuts.
#pragma once

#include <cstdint>

#include "sort/sampled_ranks.h"

// Exchange-sorts the 513 sampled slots of items[lo..hi], hi - lo + 1 >= 513,
// and returns the item then at the slot of entry 256, as SelectPivot does.
uint64_t SelectLargePivot(DenseNumbering& numbering, uint64_t* items, int32_t lo, int32_t hi);
