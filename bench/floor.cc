// The floor of a sort run: the same job as the tool's, done the minimal way,
// to tell how far the tool is from what the machine allows. It reads the
// file, finds record ends honouring quotes 16 bytes at a time, computes the
// key of each record, sorts each chunk of 65,536 records by it, writes each
// chunk to a run file, merges the run files and writes the output, the title
// record first. No messages, no validation, no limits, no order of equal
// records: nothing a user of the tool could rely on.
//
//   tarnsek_floor KEY INPUT OUTPUT SCRATCH_DIRECTORY
//   KEY: text:F (field F as bytes), number:F (field F as a number, descending)
//        or two:F:G (text F, then number G descending); fields count from 1;
//        tab:... for a tab file.
#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr size_t kChunkRecords = 65536;
constexpr size_t kBufferSize = 1 << 20;

struct Keys {
  char separator = ',';
  int text = -1;    // field index of the text key, or -1
  int number = -1;  // field index of the number key, or -1
};

struct Key {
  std::string_view text;
  double number;
};

// The end of the record that begins at p (one past its LF), or null when the
// bytes up to end do not hold it whole. Quotes are tracked by parity.
const char* RecordEnd(const char* p, const char* end, char separator) {
  bool quoted = false;
  const __m128i quote = _mm_set1_epi8(separator == ',' ? '"' : '\0');
  const __m128i lineFeed = _mm_set1_epi8('\n');
  while (p + 16 <= end) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    uint32_t quotes = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, quote)));
    uint32_t feeds = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lineFeed)));
    uint32_t within = quotes;
    within ^= within << 1;
    within ^= within << 2;
    within ^= within << 4;
    within ^= within << 8;
    if (quoted) within = ~within;
    feeds &= ~within & 0xFFFF;
    if (feeds != 0) return p + std::countr_zero(feeds) + 1;
    quoted = (within >> 15) & 1;
    p += 16;
  }
  for (; p < end; ++p) {
    if (*p == '"' && separator == ',') quoted = !quoted;
    if (*p == '\n' && !quoted) return p + 1;
  }
  return nullptr;
}

// The first byte from p on that is the separator, a quote or CR, or end;
// 16 bytes at a time (the buffers have room for reading past end).
const char* NextStop(const char* p, const char* end, char separator) {
  const __m128i sep = _mm_set1_epi8(separator);
  const __m128i quote = _mm_set1_epi8(separator == ',' ? '"' : '\r');
  const __m128i cr = _mm_set1_epi8('\r');
  for (; p < end; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const uint32_t stops = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, sep), _mm_cmpeq_epi8(bytes, quote)), _mm_cmpeq_epi8(bytes, cr))));
    if (stops != 0) return std::min(p + std::countr_zero(stops), end);
  }
  return end;
}

std::string_view Field(const char* p, const char* end, int index, char separator) {
  const char* start = p;
  for (int field = 0; p < end;) {
    p = NextStop(p, end, separator);
    if (p == end) break;
    if (*p == '"') {
      // To the closing quote: a doubled quote closes and opens again.
      p = static_cast<const char*>(std::memchr(p + 1, '"', static_cast<size_t>(end - p - 1)));
      if (!p) return {};
      ++p;
      continue;
    }
    if (field == index) return {start, static_cast<size_t>(p - start)};
    ++field;
    start = ++p;
  }
  return {};
}

Key KeyOf(const char* p, const char* end, const Keys& keys) {
  Key key{{}, 0};
  if (keys.text >= 0) key.text = Field(p, end, keys.text, keys.separator);
  if (keys.number >= 0) {
    const std::string_view text = Field(p, end, keys.number, keys.separator);
    double value = 0;
    for (char c : text) {
      if (c >= '0' && c <= '9') value = value * 10 + (c - '0');
    }
    key.number = value;
  }
  return key;
}

bool Before(const Key& a, const Key& b) {
  const int text = a.text.compare(b.text);
  if (text != 0) return text < 0;
  return a.number > b.number;
}

struct Reader {
  FILE* file;
  std::vector<char> buffer = std::vector<char>(kBufferSize * 2);
  size_t begin = 0;
  size_t end = 0;
  bool atEnd = false;

  // The next record as [first, last), or false at the end of the file.
  bool Next(const char** first, const char** last, char separator) {
    for (;;) {
      const char* stop = RecordEnd(buffer.data() + begin, buffer.data() + end, separator);
      if (stop) {
        *first = buffer.data() + begin;
        *last = stop;
        begin = static_cast<size_t>(stop - buffer.data());
        return true;
      }
      if (atEnd) {
        if (begin == end) return false;
        *first = buffer.data() + begin;
        *last = buffer.data() + end;
        begin = end;
        return true;
      }
      std::memmove(buffer.data(), buffer.data() + begin, end - begin);
      end -= begin;
      begin = 0;
      if (buffer.size() - end < kBufferSize + 16) buffer.resize(buffer.size() * 2);
      const size_t count = std::fread(buffer.data() + end, 1, kBufferSize, file);
      if (count == 0) atEnd = true;
      end += count;
    }
  }
};

struct Writer {
  FILE* file;
  std::vector<char> buffer = std::vector<char>(kBufferSize);
  size_t used = 0;

  void Put(const char* first, const char* last) {
    const size_t size = static_cast<size_t>(last - first);
    if (used + size > buffer.size()) Flush();
    if (size > buffer.size()) {
      std::fwrite(first, 1, size, file);
      return;
    }
    std::memcpy(buffer.data() + used, first, size);
    used += size;
  }
  void Flush() {
    std::fwrite(buffer.data(), 1, used, file);
    used = 0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: tarnsek_floor KEY INPUT OUTPUT SCRATCH_DIRECTORY\n");
    return 2;
  }
  std::string keyArgument = argv[1];
  Keys keys;
  if (keyArgument.rfind("tab:", 0) == 0) {
    keys.separator = '\t';
    keyArgument = keyArgument.substr(4);
  }
  const size_t colon = keyArgument.find(':');
  const std::string kind = keyArgument.substr(0, colon);
  const int first = std::atoi(keyArgument.c_str() + colon + 1) - 1;
  if (kind == "text") keys.text = first;
  if (kind == "number") keys.number = first;
  if (kind == "two") {
    keys.text = first;
    keys.number = std::atoi(keyArgument.c_str() + keyArgument.find(':', colon + 1) + 1) - 1;
  }

  Reader input{std::fopen(argv[2], "rb")};
  Writer output{std::fopen(argv[3], "wb")};
  if (!input.file || !output.file) return 1;
  const char* p = nullptr;
  const char* q = nullptr;
  if (input.Next(&p, &q, keys.separator)) output.Put(p, q);  // the title record

  std::vector<std::string> runs;
  std::vector<char> bytes;
  std::vector<size_t> starts;
  std::vector<Key> chunkKeys;
  std::vector<uint32_t> order;
  for (bool more = true; more;) {
    bytes.clear();
    starts.clear();
    while (starts.size() < kChunkRecords && (more = input.Next(&p, &q, keys.separator))) {
      starts.push_back(bytes.size());
      bytes.insert(bytes.end(), p, q);
    }
    if (starts.empty()) break;
    starts.push_back(bytes.size());
    bytes.resize(bytes.size() + 16);  // room to read 16 bytes past the last record
    const size_t count = starts.size() - 1;
    chunkKeys.resize(count);
    order.resize(count);
    for (size_t r = 0; r < count; ++r) {
      chunkKeys[r] = KeyOf(bytes.data() + starts[r], bytes.data() + starts[r + 1], keys);
      order[r] = static_cast<uint32_t>(r);
    }
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return Before(chunkKeys[a], chunkKeys[b]); });
    runs.push_back(std::string(argv[4]) + "/floor" + std::to_string(runs.size()));
    Writer run{std::fopen(runs.back().c_str(), "wb")};
    if (!run.file) return 1;
    for (uint32_t r : order) run.Put(bytes.data() + starts[r], bytes.data() + starts[r + 1]);
    run.Flush();
    std::fclose(run.file);
  }
  std::fclose(input.file);

  // The merge: a heap of the runs by their current records.
  std::vector<Reader> readers;
  readers.reserve(runs.size());
  for (const std::string& name : runs) readers.push_back(Reader{std::fopen(name.c_str(), "rb")});
  std::vector<const char*> firsts(runs.size()), lasts(runs.size());
  std::vector<Key> current(runs.size());
  const auto later = [&](size_t a, size_t b) { return Before(current[b], current[a]); };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> heap(later);
  for (size_t i = 0; i < readers.size(); ++i) {
    if (!readers[i].Next(&firsts[i], &lasts[i], keys.separator)) continue;
    current[i] = KeyOf(firsts[i], lasts[i], keys);
    heap.push(i);
  }
  while (!heap.empty()) {
    const size_t b = heap.top();
    heap.pop();
    output.Put(firsts[b], lasts[b]);
    if (!readers[b].Next(&firsts[b], &lasts[b], keys.separator)) continue;
    current[b] = KeyOf(firsts[b], lasts[b], keys);
    heap.push(b);
  }
  output.Flush();
  std::fclose(output.file);
  for (size_t i = 0; i < readers.size(); ++i) {
    std::fclose(readers[i].file);
    std::remove(runs[i].c_str());
  }
  return 0;
}
