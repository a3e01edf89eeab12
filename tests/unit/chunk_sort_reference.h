// The chunk quicksort exactly as written, step by step, over an array of
// record pointers and a comparison callback: every pivot choice samples 513
// positions and makes all 131,328 comparisons of its exchange sort. Slow on
// purpose; the fast sort must give the same permutation.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

template <typename Record, typename Compare>
class ReferenceChunkSort {
 public:
  ReferenceChunkSort(Record** buffer, Compare compare) : buffer_(buffer), compare_(compare) {}

  void SortChunk(int32_t lo, int32_t hi) {
    for (;;) {
      Record* pivot = SelectPivot(lo, hi);
      int32_t i = lo - 1;
      int32_t j = hi + 1;
      for (;;) {
        ++i;
        while (Compare2(buffer_[i], pivot) < 0) ++i;
        --j;
        while (Compare2(buffer_[j], pivot) > 0) --j;
        if (i >= j) break;
        std::swap(buffer_[i], buffer_[j]);
      }
      if (lo < i - 1) SortChunk(lo, i - 1);
      if (j + 1 < hi) {
        lo = j + 1;
      } else {
        return;
      }
    }
  }

  Record* SelectPivot(int32_t lo, int32_t hi) {
    std::vector<int32_t> list;
    list.reserve(513);
    list.push_back(lo);
    AddSamplePositions(lo, hi, 1, list);
    list.push_back(hi);
    for (int p = 0; p <= 511; ++p) {
      for (int q = p + 1; q <= 512; ++q) {
        if (Compare2(buffer_[list[p]], buffer_[list[q]]) > 0) {
          std::swap(buffer_[list[p]], buffer_[list[q]]);
        }
      }
    }
    ++pivotChoices_;
    return buffer_[list[256]];
  }

  static void AddSamplePositions(int32_t L, int32_t R, int level, std::vector<int32_t>& list) {
    int32_t M = (L + R) / 2;
    list.push_back(M);
    if (level < 9) {
      AddSamplePositions(L, M, level + 1, list);
      AddSamplePositions(M, R, level + 1, list);
    }
  }

  int64_t comparisons() const { return comparisons_; }
  int64_t pivotChoices() const { return pivotChoices_; }

 private:
  int Compare2(Record* a, Record* b) {
    ++comparisons_;
    return compare_(a, b);
  }

  Record** buffer_;
  Compare compare_;
  int64_t comparisons_ = 0;
  int64_t pivotChoices_ = 0;
};

// Records that stand for real ones by their rank alone: the literal quicksort
// over them moves its slots as over the records themselves.
struct Ranked {
  uint32_t rank;
  uint32_t index;
};
struct RankedCompare {
  int operator()(const Ranked* a, const Ranked* b) const {
    return a->rank < b->rank ? -1 : (a->rank > b->rank ? 1 : 0);
  }
};
using RankedReference = ReferenceChunkSort<Ranked, RankedCompare>;

// The input indices in the order the literal quicksort leaves them; adds its
// pivot choices and comparisons to the counts given.
inline std::vector<uint32_t> LiteralOrder(const std::vector<uint32_t>& ranks, int64_t* choices = nullptr,
                                          int64_t* comparisons = nullptr) {
  std::vector<Ranked> records(ranks.size());
  std::vector<Ranked*> buffer(ranks.size());
  for (size_t i = 0; i < ranks.size(); ++i) {
    records[i] = {ranks[i], static_cast<uint32_t>(i)};
    buffer[i] = &records[i];
  }
  RankedReference reference(buffer.data(), RankedCompare{});
  reference.SortChunk(0, static_cast<int32_t>(ranks.size()) - 1);
  if (choices) *choices += reference.pivotChoices();
  if (comparisons) *comparisons += reference.comparisons();
  std::vector<uint32_t> order;
  for (Ranked* record : buffer) order.push_back(record->index);
  return order;
}
