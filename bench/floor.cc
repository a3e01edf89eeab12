// The floor of a sort run: the same job as the tool's, done the fastest way we
// know, to tell how far the tool is from what the machine allows. It reads the
// file in a bounded window, finds record ends and field bounds honouring
// quotes 64 bytes at a time and keeps each record where it was read; it
// computes each record's key once, as a 64-bit word that orders as the key
// does (the first 8 bytes of a text, a number with its bits turned for the
// descending order), sorts each chunk of 65,536 records by radix passes over
// these words (texts longer than 8 bytes compared further only where the words
// tie), copies the sorted records to a run file, merges the run files in a
// tournament tree that compares the words first, and writes the output, the
// title record first. No messages, no validation, no limits, no order of equal
// records: nothing a user of the tool could rely on. Linux only.
//
//   tarnsek_floor KEY INPUT OUTPUT SCRATCH_DIRECTORY
//   tarnsek_floor --merge KEY OUTPUT INPUT...   (inputs sorted, no title)
//   KEY: text:F (field F as bytes), number:F (field F as a number, descending)
//        or two:F:G (text F, then number G descending); fields count from 1;
//        tab:... for a tab file.
#include <emmintrin.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kChunkRecords = 65536;
constexpr size_t kReadSize = 1 << 18;       // of the input, and the size of a write
constexpr size_t kMergeReadSize = 1 << 18;  // of each merge input
constexpr size_t kWindow = 8 << 20;         // the sort's input window
constexpr size_t kSlack = 64;               // bytes a block load may read past the data

struct Keys {
  char separator = ',';
  int text = -1;    // field index of the text key, or -1
  int number = -1;  // field index of the number key, or -1
};

// A record as offsets into its buffer, with its keys' bounds.
struct Record {
  uint32_t start, end;          // [start, end), its LF included
  uint32_t textStart, textEnd;  // the text key's bytes
  uint64_t number;              // the number key's order word
};

// The bits of 64 bytes at p that are quotes, LFs and separators.
struct Marks {
  uint64_t quotes = 0, feeds = 0, separators = 0;
};

Marks BlockMarks(const char* p, char separator) {
  const __m128i quote = _mm_set1_epi8(separator == ',' ? '"' : '\n');
  const __m128i feed = _mm_set1_epi8('\n');
  const __m128i sep = _mm_set1_epi8(separator);
  Marks marks;
  for (int lane = 0; lane < 4; ++lane) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * lane));
    const auto mask = [&](__m128i wanted) {
      return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted))))
             << (16 * lane);
    };
    marks.quotes |= mask(quote);
    marks.feeds |= mask(feed);
    marks.separators |= mask(sep);
  }
  if (separator != ',') marks.quotes = 0;  // no quotes in a tab file
  return marks;
}

// Finds records in a buffer 64 bytes at a time; its state carries across calls,
// so the bytes of a record may arrive in several reads.
struct Scanner {
  Keys keys;
  int lastKey = 0;  // the last field a key needs
  bool quoted = false;
  bool skipping = false;  // within a record, past its last key field
  int field = 0;
  uint32_t recordStart = 0, textStart = 0, textEnd = 0, numberStart = 0, numberEnd = 0;

  // Scans [from, to) of data (to - from a multiple of 64 unless last), adding
  // every record that ends there to records.
  void Scan(const char* data, size_t from, size_t to, std::vector<Record>& records) {
    for (size_t block = from; block < to; block += 64) {
      const uint64_t valid = to - block >= 64 ? ~0ULL : (1ULL << (to - block)) - 1;
      const Marks marks = BlockMarks(data + block, keys.separator);
      uint64_t within = marks.quotes;
      for (int shift = 1; shift < 64; shift *= 2) within ^= within << shift;
      if (quoted) within = ~within;
      quoted = within >> 63;
      const uint64_t feeds = marks.feeds & ~within & valid;
      uint64_t stops = (marks.separators & ~within & valid) | feeds;
      // Past the last key field only the record's end counts.
      if (skipping) stops = feeds == 0 ? 0 : stops & ~((feeds & -feeds) - 1);
      while (stops != 0) {
        const uint32_t at = static_cast<uint32_t>(block) + static_cast<uint32_t>(std::countr_zero(stops));
        const bool feed = (feeds >> (at - block)) & 1;
        stops &= stops - 1;
        uint32_t fieldEnd = at;
        if (feed && fieldEnd > recordStart && data[fieldEnd - 1] == '\r') --fieldEnd;
        if (field == keys.text) textEnd = fieldEnd;
        if (field == keys.number) numberEnd = fieldEnd;
        ++field;
        if (field == keys.text) textStart = at + 1;
        if (field == keys.number) numberStart = at + 1;
        if (feed) {
          records.push_back({recordStart, at + 1, textStart, textEnd, NumberWord(data)});
          recordStart = at + 1;
          field = 0;
          skipping = false;
          textStart = textEnd = numberStart = numberEnd = recordStart;
        } else if (field > lastKey) {
          const uint64_t later = feeds & stops;
          skipping = later == 0;
          stops = skipping ? 0 : stops & ~((later & -later) - 1);
        }
      }
    }
  }

  // The number key as a word that orders descending numbers ascending.
  uint64_t NumberWord(const char* data) const {
    uint64_t value = 0;
    for (uint32_t i = numberStart; i < numberEnd; ++i) {
      const unsigned digit = static_cast<unsigned char>(data[i]) - '0';
      if (digit < 10) value = value * 10 + digit;
    }
    return ~value;
  }

  // The bytes before from moved down by shift.
  void Shift(uint32_t shift) {
    recordStart -= shift;
    textStart -= shift;
    textEnd -= shift;
    numberStart -= shift;
    numberEnd -= shift;
  }
};

// The first 8 bytes of a text from offset depth on, as a big-endian word (zero
// bytes after its end).
uint64_t TextWord(const char* data, const Record& r, uint32_t depth) {
  const uint32_t length = r.textEnd - r.textStart;
  if (depth >= length) return 0;
  uint64_t word = 0;
  const uint32_t count = std::min<uint32_t>(8, length - depth);
  std::memcpy(&word, data + r.textStart + depth, count);
  return __builtin_bswap64(word);
}

struct Item {
  uint64_t word;
  uint32_t record;
};

// LSD radix sort by word, one pass per byte that differs among the items.
void RadixSort(Item* items, size_t count, std::vector<Item>& spare) {
  if (count < 64) {
    std::sort(items, items + count, [](const Item& a, const Item& b) { return a.word < b.word; });
    return;
  }
  spare.resize(std::max(spare.size(), count));
  static uint32_t counts[8][256];
  std::memset(counts, 0, sizeof counts);
  for (size_t i = 0; i < count; ++i) {
    for (int b = 0; b < 8; ++b) ++counts[b][(items[i].word >> (8 * b)) & 0xFF];
  }
  Item* from = items;
  Item* to = spare.data();
  for (int b = 0; b < 8; ++b) {
    if (counts[b][(items[0].word >> (8 * b)) & 0xFF] == count) continue;  // all the same byte
    uint32_t offsets[256];
    uint32_t sum = 0;
    for (int v = 0; v < 256; ++v) {
      offsets[v] = sum;
      sum += counts[b][v];
    }
    for (size_t i = 0; i < count; ++i) to[offsets[(from[i].word >> (8 * b)) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != items) std::memcpy(items, from, count * sizeof(Item));
}

// Sorts items (by word at depth already) by the rest of their texts, then by
// number where the texts are equal.
void SortTies(const char* data, const std::vector<Record>& records, Item* items, size_t count, uint32_t depth,
              const Keys& keys, std::vector<Item>& spare) {
  for (size_t first = 0; first < count;) {
    size_t last = first + 1;
    uint32_t longest = records[items[first].record].textEnd - records[items[first].record].textStart;
    while (last < count && items[last].word == items[first].word) {
      longest =
          std::max(longest, records[items[last].record].textEnd - records[items[last].record].textStart);
      ++last;
    }
    if (last - first > 1) {
      Item* run = items + first;
      const size_t size = last - first;
      if (keys.text >= 0 && longest > depth + 8) {
        for (size_t i = 0; i < size; ++i) run[i].word = TextWord(data, records[run[i].record], depth + 8);
        RadixSort(run, size, spare);
        SortTies(data, records, run, size, depth + 8, keys, spare);
      } else if (keys.text >= 0 && keys.number >= 0) {
        for (size_t i = 0; i < size; ++i) run[i].word = records[run[i].record].number;
        RadixSort(run, size, spare);
      }
    }
    first = last;
  }
}

bool WriteAll(int fd, const char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, bytes, size);
    if (done <= 0) return false;
    bytes += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

struct Writer {
  int fd;
  std::vector<char> buffer = std::vector<char>(kReadSize);
  size_t used = 0;

  void Put(const char* bytes, size_t size) {
    if (used + size > buffer.size()) Flush();
    if (size > buffer.size()) {
      if (!WriteAll(fd, bytes, size)) std::exit(1);
      return;
    }
    std::memcpy(buffer.data() + used, bytes, size);
    used += size;
  }
  void Flush() {
    if (!WriteAll(fd, buffer.data(), used)) std::exit(1);
    used = 0;
  }
};

// A file read into a buffer that keeps the bytes from live on, its records
// found as they arrive.
struct Source {
  int fd;
  size_t readSize;
  Scanner scanner;
  std::vector<char> buffer;
  size_t live = 0, scanned = 0, end = 0;
  bool atEnd = false;
  std::vector<Record> records;
  size_t next = 0;  // the first record not taken

  Source(int file, const Keys& keys, size_t read, size_t size)
      : fd(file), readSize(read), buffer(size + kSlack) {
    scanner.keys = keys;
    scanner.lastKey = std::max(keys.text, keys.number);
  }

  // Reads and scans more of the file; false at its end.
  bool Fill() {
    if (atEnd) return false;
    if (buffer.size() - kSlack - end < readSize) {
      const size_t shift = live;
      std::memmove(buffer.data(), buffer.data() + shift, end - shift);
      for (size_t r = next; r < records.size(); ++r) {
        Record& record = records[r];
        record.start -= static_cast<uint32_t>(shift);
        record.end -= static_cast<uint32_t>(shift);
        record.textStart -= static_cast<uint32_t>(shift);
        record.textEnd -= static_cast<uint32_t>(shift);
      }
      scanner.Shift(static_cast<uint32_t>(shift));
      live = 0;
      scanned -= shift;
      end -= shift;
      if (buffer.size() - kSlack - end < readSize) buffer.resize(buffer.size() * 2);
    }
    const ssize_t count = ::read(fd, buffer.data() + end, readSize);
    if (count < 0) std::exit(1);
    end += static_cast<size_t>(count);
    if (count == 0) atEnd = true;
    const size_t to = atEnd ? end : scanned + (end - scanned) / 64 * 64;
    scanner.Scan(buffer.data(), scanned, to, records);
    scanned = to;
    if (atEnd && end > scanner.recordStart) {  // a last record without LF
      buffer[end] = '\n';
      scanner.Scan(buffer.data(), end, end + 1, records);
      scanned = ++end;
    }
    return true;
  }

  // The next record, or null at the end.
  const Record* Take() {
    while (next == records.size()) {
      records.clear();
      next = 0;
      live = scanner.recordStart;
      if (!Fill()) return nullptr;
    }
    return &records[next++];
  }
};

int Open(const char* path) {
  const int fd = ::open(path, O_RDONLY);
  if (fd < 0) std::exit(1);
  return fd;
}

int Create(const char* path) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) std::exit(1);
  return fd;
}

// The current record of each merge input, with its first key word.
struct Head {
  const Record* record = nullptr;
  uint64_t word = 0;
};

void Merge(std::vector<Source>& inputs, const Keys& keys, Writer& output) {
  const size_t count = inputs.size();
  std::vector<Head> heads(count);
  const auto advance = [&](size_t i) {
    heads[i].record = inputs[i].Take();
    if (heads[i].record) {
      heads[i].word =
          keys.text >= 0 ? TextWord(inputs[i].buffer.data(), *heads[i].record, 0) : heads[i].record->number;
    }
  };
  const auto before = [&](size_t a, size_t b) {
    if (a >= count || !heads[a].record) return false;
    if (b >= count || !heads[b].record) return true;
    if (heads[a].word != heads[b].word) return heads[a].word < heads[b].word;
    if (keys.text < 0) return false;
    const Record& x = *heads[a].record;
    const Record& y = *heads[b].record;
    const uint32_t xl = x.textEnd - x.textStart, yl = y.textEnd - y.textStart;
    const int order = std::memcmp(inputs[a].buffer.data() + x.textStart,
                                  inputs[b].buffer.data() + y.textStart, std::min(xl, yl));
    if (order != 0) return order < 0;
    if (xl != yl) return xl < yl;
    return keys.number >= 0 && x.number < y.number;
  };
  for (size_t i = 0; i < count; ++i) advance(i);
  // A tournament tree of losers over leaves padded to a power of two.
  const size_t leaves = std::bit_ceil(std::max<size_t>(count, 2));
  std::vector<size_t> tree(leaves);
  const auto build = [&](auto& self, size_t node) -> size_t {
    if (node >= leaves) return node - leaves;
    const size_t left = self(self, 2 * node), right = self(self, 2 * node + 1);
    if (before(right, left)) {
      tree[node] = left;
      return right;
    }
    tree[node] = right;
    return left;
  };
  size_t winner = build(build, 1);
  while (winner < count && heads[winner].record) {
    const Record& r = *heads[winner].record;
    output.Put(inputs[winner].buffer.data() + r.start, r.end - r.start);
    advance(winner);
    for (size_t node = (winner + leaves) / 2; node >= 1; node /= 2) {
      if (before(tree[node], winner)) std::swap(tree[node], winner);
    }
  }
}

Keys ParseKeys(std::string argument) {
  Keys keys;
  if (argument.rfind("tab:", 0) == 0) {
    keys.separator = '\t';
    argument = argument.substr(4);
  }
  const size_t colon = argument.find(':');
  const std::string kind = argument.substr(0, colon);
  const int first = std::atoi(argument.c_str() + colon + 1) - 1;
  if (kind == "text") keys.text = first;
  if (kind == "number") keys.number = first;
  if (kind == "two") {
    keys.text = first;
    keys.number = std::atoi(argument.c_str() + argument.find(':', colon + 1) + 1) - 1;
  }
  return keys;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::strcmp(argv[1], "--merge") == 0) {
    const Keys keys = ParseKeys(argv[2]);
    Writer output{Create(argv[3])};
    std::vector<Source> inputs;
    inputs.reserve(static_cast<size_t>(argc - 4));
    for (int i = 4; i < argc; ++i)
      inputs.emplace_back(Open(argv[i]), keys, kMergeReadSize, 2 * kMergeReadSize);
    Merge(inputs, keys, output);
    output.Flush();
    return 0;
  }
  if (argc != 5) {
    std::fprintf(stderr,
                 "usage: tarnsek_floor KEY INPUT OUTPUT SCRATCH_DIRECTORY\n"
                 "       tarnsek_floor --merge KEY OUTPUT INPUT...\n");
    return 2;
  }
  const Keys keys = ParseKeys(argv[1]);
  Source input(Open(argv[2]), keys, kReadSize, kWindow);
  Writer output{Create(argv[3])};
  if (const Record* title = input.Take())
    output.Put(input.buffer.data() + title->start, title->end - title->start);

  std::vector<std::string> runs;
  std::vector<Item> items, spare;
  for (;;) {
    // A chunk: the records stay in the window until the run file is written.
    input.live =
        input.next < input.records.size() ? input.records[input.next].start : input.scanner.recordStart;
    while (input.records.size() - input.next < kChunkRecords && input.Fill()) {
    }
    const size_t count = std::min(kChunkRecords, input.records.size() - input.next);
    if (count == 0) break;
    const char* data = input.buffer.data();
    items.resize(count);
    for (size_t i = 0; i < count; ++i) {
      const uint32_t r = static_cast<uint32_t>(input.next + i);
      items[i] = {keys.text >= 0 ? TextWord(data, input.records[r], 0) : input.records[r].number, r};
    }
    RadixSort(items.data(), count, spare);
    if (keys.text >= 0) SortTies(data, input.records, items.data(), count, 0, keys, spare);
    runs.push_back(std::string(argv[4]) + "/floor" + std::to_string(runs.size()));
    Writer run{Create(runs.back().c_str())};
    for (const Item& item : items) {
      const Record& r = input.records[item.record];
      run.Put(data + r.start, r.end - r.start);
    }
    run.Flush();
    ::close(run.fd);
    // The records read past the chunk move to the front of the list.
    input.records.erase(input.records.begin(),
                        input.records.begin() + static_cast<std::ptrdiff_t>(input.next + count));
    input.next = 0;
  }
  ::close(input.fd);

  std::vector<Source> readers;
  readers.reserve(runs.size());
  for (const std::string& name : runs)
    readers.emplace_back(Open(name.c_str()), keys, kMergeReadSize, 2 * kMergeReadSize);
  Merge(readers, keys, output);
  output.Flush();
  for (size_t i = 0; i < readers.size(); ++i) {
    ::close(readers[i].fd);
    std::remove(runs[i].c_str());
  }
  return 0;
}
