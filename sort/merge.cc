// The k-way merge: every input offers its current record, and the smallest of
// them is written next (on a tie, the latest input's). Inputs are few (19 at
// most): the smallest is found by a scan of the inputs, or by a tournament
// tree that gives the same choice while that is sure. The key values of each
// current record are read once, when the record is read: a number or a date
// is parsed once per record instead of twice per comparison, which made the
// merge of 19 run files about 4 times as fast on number and date keys
// (tarnsek_micro BM_MergeNineteenFiles; bench/run.py, rows number and date).
#include "sort/merge.h"

#include <cstdlib>

#include "csv/record_reader.h"
#include "driver/log.h"
#include "driver/messages.h"
#include "platform/files.h"
#include "platform/signals.h"
#include "sort/compare.h"

namespace {

CsvRecord* headerRecord = nullptr;

constexpr int kLeaves = 32;  // a power of 2 above the 19 inputs
static_assert(kLeaves >= kMaxMergeFiles && (kLeaves & (kLeaves - 1)) == 0, "a leaf for every input");

// One merge: its inputs, the key values and order words of each input's
// current record, and the tournament tree over them.
struct Merge {
  CsvFile* inputs[kMaxMergeFiles];
  int count;  // inputs given, ended ones included
  int keyCount;

  // The key values of each input's current record, under the run's keyCount
  // keys.
  KeyValue currentValues[kMaxMergeFiles][kMaxSortKeys];

  // The first key's order words of each current record, when the first key
  // has them: the tree compares two records by these words first, and by
  // their values only on equal words, from the second key on when the words
  // hold the whole first values. That took the choice of the next record
  // from 362 to 253 instructions a record on a number key, and from 498 to
  // 302 on a text key (a city of up to 16 bytes), where making the words
  // costs 63 (callgrind over bench/run.py, rows number and text).
  uint64_t firstWords[kMaxMergeFiles];   // words[0]
  uint64_t secondWords[kMaxMergeFiles];  // words[1]
  bool wholeWords[kMaxMergeFiles];       // the words hold the whole first value
  bool byFirstWord;

  // While every current record holds every key field and no over-long
  // number, comparing records is a total order, and the scan's choice (the
  // smallest record, the latest input among equals) is kept in a tournament
  // tree: about 5 comparisons per record written instead of 18 for 19
  // inputs, which took the merge of 19 files from 10% slower than GNU sort -m
  // to faster (bench/run.py, row merge; tarnsek_micro BM_MergeNineteenFiles).
  // A record lacking a key (whose comparisons record the warning and tell
  // nothing) or with an over-long number (an error once compared) sends the
  // merge back to the scan, which then compares exactly as it always did.
  bool ordered;
  int tree[2 * kLeaves];  // the winning input of each subtree, -1 for none
};

// The winner of two records whose first words are equal, or of any two
// records when there are no words.
int WinnerOnValues(const Merge& m, int left, int right, const CsvSortOption& options) {
  int from = 0;  // the first key still to compare
  if (m.byFirstWord) {
    if (m.secondWords[right] != m.secondWords[left])
      return m.secondWords[right] < m.secondWords[left] ? right : left;
    if (m.wholeWords[right] && m.wholeWords[left]) from = 1;
  }
  // Every current record holds every key here: the comparison records no
  // warning.
  for (int k = from; k < m.keyCount; ++k) {
    const int result =
        CompareKeyValues(m.currentValues[right][k], m.currentValues[left][k], *options.sortKeys[k]);
    if (result != 0) return result < 0 ? right : left;
  }
  return right;
}

// The winner of two subtrees' winners: the smaller record, the later input on
// a tie, as the scan chooses. left's input comes before right's.
inline int Winner(const Merge& m, int left, int right, const CsvSortOption& options) {
  if (left < 0) return right;
  if (right < 0) return left;
  if (m.byFirstWord && m.firstWords[right] != m.firstWords[left]) {
    return m.firstWords[right] < m.firstWords[left] ? right : left;
  }
  return WinnerOnValues(m, left, right, options);
}

void ReplayFrom(Merge& m, int slot, int value, const CsvSortOption& options) {
  int node = kLeaves + slot;
  m.tree[node] = value;
  for (node /= 2; node >= 1; node /= 2)
    m.tree[node] = Winner(m, m.tree[2 * node], m.tree[2 * node + 1], options);
}

// Reads the next record of input `slot`. A read that yields no field met the
// end of the file: the input ends and its slot is emptied. A record with
// fields takes part in the choice even when the end came while it was read
// (a last line without CR LF); the input then ends at its next read.
void ReadNext(Merge& m, int slot, const CsvSortOption& options) {
  CsvFile* input = m.inputs[slot];
  ReadRecord(input, options);
  if (input->record->fieldCount > 0) {
    for (int k = 0; k < m.keyCount; ++k) {
      const KeyValue& value = m.currentValues[slot][k] = KeyValueOf(input->record, *options.sortKeys[k]);
      if (!value.present || value.tooManyDigits) m.ordered = false;
    }
    if (m.byFirstWord) {
      uint64_t words[2];
      m.wholeWords[slot] = OrderWords(m.currentValues[slot][0], *options.sortKeys[0], words);
      m.firstWords[slot] = words[0];
      m.secondWords[slot] = words[1];
    }
    return;
  }
  LogMessage(msg::kInputRead, input->path, input->lineCount);
  input->record = nullptr;
  CloseCsvFile(input);
  m.inputs[slot] = nullptr;
}

}  // namespace

void SetHeaderRecord(CsvRecord* record) { headerRecord = record; }

void MergeCsvFiles(CsvSortOption& options) {
  Merge m{};
  m.keyCount = CountSortKeys(options);
  m.byFirstWord = m.keyCount > 0 && HasOrderWord(*options.sortKeys[0]);
  LogMessage(msg::kMergeStarted);
  CsvFile* output = OpenCsvFile(options.outputPath, "wb");

  m.count = options.fileCount;
  for (int i = 0; i < m.count; ++i) {
    m.inputs[i] = OpenCsvFile(options.fileNames[i], "rb");
    KeepOneRecord(m.inputs[i]);
    // The sort's run files are the only inputs it deletes.
    m.inputs[i]->isRunFile = options.deleteFiles;
  }

  m.ordered = true;
  for (int i = 0; i < m.count; ++i) ReadNext(m, i, options);
  // Every input is open and offers its first record: only now is the old
  // output given up. An input that cannot be opened or read leaves it whole.
  EmptyCsvFile(output);
  if (options.hasCaption && headerRecord) {
    output->record = headerRecord;
    WriteRecord(output, options);  // a header without field writes nothing
  }
  if (m.ordered) {
    for (int leaf = 0; leaf < kLeaves; ++leaf)
      m.tree[kLeaves + leaf] = leaf < m.count && m.inputs[leaf] ? leaf : -1;
    for (int node = kLeaves - 1; node >= 1; --node) {
      m.tree[node] = Winner(m, m.tree[2 * node], m.tree[2 * node + 1], options);
    }
  }

  for (int last = -1;;) {
    int best = -1;
    if (m.ordered && last >= 0) ReplayFrom(m, last, m.inputs[last] ? last : -1, options);
    if (m.ordered) {
      best = m.tree[1];
    } else {
      // A later input wins a tie: "<= 0" moves the choice on.
      for (int i = 0; i < m.count; ++i) {
        if (!m.inputs[i]) continue;
        if (best < 0 ||
            CompareRecordValues(m.currentValues[i], m.currentValues[best], options, m.keyCount) <= 0) {
          best = i;
        }
      }
    }
    if (best < 0) break;
    last = best;
    CsvRecord* record = m.inputs[best]->record;
    output->record = record;
    WriteRecord(output, options);
    output->record = nullptr;
    ReadNext(m, best, options);
  }

  LogMessage(msg::kMergeWritten, output->lineCount);
  CloseCsvFile(output);

  if (options.deleteFiles) {
    for (int i = 0; i < m.count; ++i) {
      char* name = options.fileNames[i];
      // A name deleted is cleared at once: an interrupt must not delete a
      // file that another process has made under it since.
      HoldInterrupts();
      if (RemovePlatformFile(name) != 0) FatalError(msg::kDeleteFailed, name);
      options.fileNames[i] = nullptr;
      ReleaseInterrupts();
      LogMessage(msg::kFileDeleted, name);
      std::free(name);
    }
  }
  LogMessage(msg::kMergeFinished);
}
