#include "micro_data.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

// (kanji, katakana) pairs.
const char* const kFamily[][2] = {
    {"佐藤", "サトウ"}, {"鈴木", "スズキ"}, {"高橋", "タカハシ"}, {"田中", "タナカ"},
    {"伊藤", "イトウ"}, {"渡辺", "ワタナベ"}, {"山本", "ヤマモト"}, {"中村", "ナカムラ"},
    {"小林", "コバヤシ"}, {"加藤", "カトウ"}, {"吉田", "ヨシダ"}, {"山田", "ヤマダ"},
    {"佐々木", "ササキ"}, {"山口", "ヤマグチ"}, {"松本", "マツモト"}, {"井上", "イノウエ"},
};
const char* const kGiven[][2] = {
    {"太郎", "タロウ"}, {"花子", "ハナコ"}, {"一郎", "イチロウ"}, {"美咲", "ミサキ"},
    {"翔", "ショウ"},   {"結衣", "ユイ"},   {"大輔", "ダイスケ"}, {"陽菜", "ヒナ"},
    {"健太", "ケンタ"}, {"さくら", "サクラ"}, {"拓也", "タクヤ"}, {"愛", "アイ"},
};
const char* const kPrefectures[] = {
    "北海道", "青森県", "岩手県", "宮城県", "秋田県", "山形県", "福島県", "茨城県",
    "栃木県", "群馬県", "埼玉県", "千葉県", "東京都", "神奈川県", "新潟県", "富山県",
    "石川県", "福井県", "山梨県", "長野県", "岐阜県", "静岡県", "愛知県", "三重県",
    "滋賀県", "京都府", "大阪府", "兵庫県", "奈良県", "和歌山県", "鳥取県", "島根県",
    "岡山県", "広島県", "山口県", "徳島県", "香川県", "愛媛県", "高知県", "福岡県",
    "佐賀県", "長崎県", "熊本県", "大分県", "宮崎県", "鹿児島県", "沖縄県",
};
const char* const kCityStems[] = {"中央市", "北市", "南市", "東市", "西市", "港市", "緑市"};
const char* const kCategories[] = {
    "食品", "飲料", "雑貨", "書籍", "文具", "家電", "衣料", "靴", "玩具", "化粧品",
    "医薬品", "家具", "寝具", "園芸", "工具", "自動車用品", "ペット用品", "スポーツ",
    "楽器", "ｿﾌﾄｳｪｱ",
};
// Notes as values; comma mode quotes those with a comma or a quote.
const char* const kNotes[] = {
    "", "", "", "至急", "要確認", "返品あり", "ﾒﾓ", "note", "分納",
    "要確認, 再送", "品名\"限定版\"", "表示は\"税込\", 送料別", "ソ表能予申十",
};

template <typename T, size_t N>
constexpr size_t Count(const T (&)[N]) { return N; }

std::string CommaField(const std::string& text) {
  if (text.find_first_of(",\"") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

std::string WithThousands(uint64_t value) {
  std::string digits = std::to_string(value);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::string scratch;

}  // namespace

std::vector<std::string> MakeLines(int32_t count, bool tab, uint64_t seed) {
  std::mt19937_64 random(seed);  // its output is fixed by the standard
  auto pick = [&random](uint64_t n) { return random() % n; };
  std::vector<int32_t> ids(count);
  for (int32_t i = 0; i < count; ++i) ids[i] = i + 1;
  for (int32_t i = count - 1; i > 0; --i) std::swap(ids[i], ids[pick(i + 1)]);

  const char separator = tab ? '\t' : ',';
  auto field = [tab](const std::string& text) { return tab ? text : CommaField(text); };
  std::vector<std::string> lines;
  lines.reserve(count);
  for (int32_t i = 0; i < count; ++i) {
    const auto& family = kFamily[pick(Count(kFamily))];
    const auto& given = kGiven[pick(Count(kGiven))];
    // About 300 cities: a prefecture and one of the stems, 47 x 7 = 329.
    std::string city = std::string(kPrefectures[pick(Count(kPrefectures))]) + kCityStems[pick(Count(kCityStems))];
    uint64_t price = 1 + pick(10) * pick(1000) * pick(1000);
    char when[80];  // room for any int, so that no truncation can be diagnosed
    std::snprintf(when, sizeof when, "%d/%d/%d %d:%02d:%02d", 2019 + static_cast<int>(pick(6)),
                  1 + static_cast<int>(pick(12)), 1 + static_cast<int>(pick(28)), static_cast<int>(pick(24)),
                  static_cast<int>(pick(60)), static_cast<int>(pick(60)));
    std::string values[] = {
        std::to_string(ids[i]),
        std::string(family[0]) + given[0],
        std::string(family[1]) + given[1],
        city,
        field(WithThousands(price)),
        when,
        kCategories[pick(Count(kCategories))],
        std::to_string(1 + pick(500)),
        field(kNotes[pick(Count(kNotes))]),
    };
    std::string line = values[0];
    for (size_t k = 1; k < Count(values); ++k) line += separator + values[k];
    lines.push_back(line + "\r\n");
  }
  return lines;
}

const std::string& ScratchDirectory() {
  if (scratch.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarnsek-micro.XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    scratch = pattern;
  }
  return scratch;
}

void RemoveScratchDirectory() {
  if (!scratch.empty()) std::filesystem::remove_all(scratch);
  scratch.clear();
}

std::string WriteScratchFile(const std::string& name, const std::string& bytes) {
  std::string path = ScratchDirectory() + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

const std::string& MicroFile(bool tab) {
  static std::string paths[2];
  std::string& path = paths[tab ? 1 : 0];
  if (path.empty()) {
    std::string bytes;
    for (const std::string& line : MakeLines(kMicroRecords, tab, 7)) bytes += line;
    path = WriteScratchFile(tab ? "micro.tsv" : "micro.csv", bytes);
  }
  return path;
}

std::vector<CsvRecord*> ReadRecordsOf(const std::string& path) {
  std::vector<CsvRecord*> records;
  CsvSortOption options{};
  CsvFile* file = OpenCsvFile(path.c_str(), "rb");
  do {
    ReadRecord(file, options);
    if (file->record->fieldCount > 0) {
      records.push_back(file->record);
    } else {
      ReleaseRecord(file->record);
    }
  } while (!IsEndOfFile(file));
  file->record = nullptr;
  CloseCsvFile(file);
  return records;
}

const std::vector<CsvRecord*>& MicroRecords() {
  static std::vector<CsvRecord*> records;
  if (records.empty()) records = ReadRecordsOf(MicroFile(false));
  return records;
}

CsvSortOption OptionsWithKey(CsvSortKey* key, bool tab) {
  CsvSortOption options{};
  options.tabSeparated = tab;
  options.sortKeys[0] = key;
  return options;
}
