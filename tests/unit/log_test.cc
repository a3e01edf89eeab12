#include <iconv.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "driver/exit_codes.h"
#include "driver/log_encoding.h"
#include "driver/messages.h"
#include "fatal_capture.h"

namespace {

// A text of code page 932 decoded to UTF-8 by the C library's converter, not
// by the compiler that made both tables.
std::string DecodedCp932(const char* text) {
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) return "(no CP932 converter)";
  std::string in = text;
  std::string out(in.size() * 3 + 1, '\0');
  char* from = in.data();
  size_t fromLeft = in.size();
  char* to = out.data();
  size_t toLeft = out.size();
  const size_t converted = iconv(converter, &from, &fromLeft, &to, &toLeft);
  iconv_close(converter);
  if (converted == static_cast<size_t>(-1)) return "(not code page 932) " + in;
  out.resize(out.size() - toLeft);
  return out;
}

// The log's encoding for the scope of a test; code page 932 again after it.
class ScopedLogEncoding {
 public:
  explicit ScopedLogEncoding(LogEncoding encoding) { SetLogEncoding(encoding); }
  ~ScopedLogEncoding() { SetLogEncoding(LogEncoding::kCp932); }
  ScopedLogEncoding(const ScopedLogEncoding&) = delete;
  ScopedLogEncoding& operator=(const ScopedLogEncoding&) = delete;
};

}  // namespace

TEST(FatalCapture, CapturesCodeAndMessage) {
  EXPECT_FATAL(FatalError(msg::kRecordTooLong, 7), exit_code::kLimit, "[LINE:7] 最大レコード長を超えました.");
}

// Every message and every usage line of the UTF-8 table is the code page 932
// one decoded, at the same place, and the log finds it from the code page 932
// bytes; in code page 932 the log keeps the table's own text.
TEST(MessageTable, Utf8FormsAreTheCp932FormsDecoded) {
  ASSERT_EQ(Utf8MessageCount(), std::size(msg::kMessages));
  ASSERT_EQ(Utf8UsageLineCount(), std::size(msg::kUsage));
  for (size_t i = 0; i < std::size(msg::kMessages); ++i) {
    const char* cp932 = msg::kMessages[i]->text;
    EXPECT_EQ(Utf8Message(i), DecodedCp932(cp932)) << "message " << i;
    EXPECT_EQ(LogText(cp932), cp932);
    ScopedLogEncoding utf8(LogEncoding::kUtf8);
    EXPECT_EQ(LogText(cp932), Utf8Message(i)) << "message " << i;
  }
  for (size_t i = 0; i < std::size(msg::kUsage); ++i) {
    const char* cp932 = msg::kUsage[i].text;
    EXPECT_EQ(Utf8UsageLine(i), DecodedCp932(cp932)) << "usage line " << i + 1;
    EXPECT_EQ(LogText(cp932), cp932);
    ScopedLogEncoding utf8(LogEncoding::kUtf8);
    EXPECT_EQ(LogText(cp932), Utf8UsageLine(i)) << "usage line " << i + 1;
  }
  for (size_t i = 0; i < std::size(msg::kKeyTypeNames); ++i) {
    const char* cp932 = msg::kKeyTypeNames[i].words;
    ScopedLogEncoding utf8(LogEncoding::kUtf8);
    EXPECT_EQ(LogText(cp932), DecodedCp932(cp932)) << "key type " << i;
  }
  // The Japanese texts really differ between the two; other texts pass as they are.
  EXPECT_NE(std::string(Utf8Message(0)), msg::kMessages[0]->text);
  ScopedLogEncoding utf8(LogEncoding::kUtf8);
  const char* other = "[%s] \x83\x74";
  EXPECT_EQ(LogText(other), other);
  // A copy of a message (the stored missing-key warning) is known by its bytes.
  std::string copy = msg::kMissingKeyField.text;
  EXPECT_EQ(LogText(copy.c_str()), LogText(msg::kMissingKeyField));
  EXPECT_NE(LogText(copy.c_str()), copy.c_str());
}

// The list that numbers the messages names each declared message once.
TEST(MessageTable, ListsEveryDeclaredMessageOnce) {
  std::ifstream header(TARNSEK_SOURCE_DIR "/driver/messages.h");
  ASSERT_TRUE(header) << "cannot read driver/messages.h";
  std::stringstream text;
  text << header.rdbuf();
  const std::string source = text.str();
  const std::regex declaration(R"(inline constexpr MessageEntry k\w+ =)");
  const auto declared =
      std::distance(std::sregex_iterator(source.begin(), source.end(), declaration), std::sregex_iterator());
  EXPECT_EQ(static_cast<size_t>(declared), std::size(msg::kMessages));
  EXPECT_EQ(std::set<const MessageEntry*>(std::begin(msg::kMessages), std::end(msg::kMessages)).size(),
            std::size(msg::kMessages));
}

TEST(LogEncodingOfLocale, TheFirstNameSetDecidesByItsCodeset) {
  constexpr LogEncoding kUtf8 = LogEncoding::kUtf8;
  constexpr LogEncoding kCp932 = LogEncoding::kCp932;
  struct Case {
    const char* lcAll;
    const char* lcCtype;
    const char* lang;
    LogEncoding expected;
  };
  const Case cases[] = {
      {"C.UTF-8", nullptr, nullptr, kUtf8},
      {nullptr, "en_US.utf8", nullptr, kUtf8},
      {nullptr, nullptr, "ja_JP.UTF-8", kUtf8},
      {nullptr, nullptr, "ja_JP.Utf8", kUtf8},
      {nullptr, nullptr, "de_DE.uTF-8@euro", kUtf8},
      {"", "", "ja_JP.UTF-8", kUtf8},  // an empty name counts as unset
      {"C", nullptr, "ja_JP.UTF-8", kCp932},
      {nullptr, "POSIX", "ja_JP.UTF-8", kCp932},
      {"ja_JP.SJIS", "C.UTF-8", nullptr, kCp932},
      {nullptr, nullptr, nullptr, kCp932},
      {"", "", "", kCp932},
      {nullptr, nullptr, "ja_JP.eucJP", kCp932},
      {nullptr, nullptr, "ja_JP.UTF-16", kCp932},
      {nullptr, nullptr, "ja_JP.UTF-8x", kCp932},
      {nullptr, nullptr, "UTF-8", kCp932},  // no codeset: the name of a language
      {nullptr, nullptr, "ja_JP@utf8", kCp932},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LogEncodingOfLocale(c.lcAll, c.lcCtype, c.lang), c.expected)
        << (c.lcAll ? c.lcAll : "-") << " " << (c.lcCtype ? c.lcCtype : "-") << " "
        << (c.lang ? c.lang : "-");
  }
}
