// Every text the tool prints, in one place. The source keeps them readable as
// UTF-8; the build compiles them to code page 932 bytes (-fexec-charset=CP932),
// which is what the Windows console and the callers' scripts see. A log
// written in UTF-8 takes the same table compiled once more, with UTF-8 as the
// execution character set (driver/messages_utf8.cc), so the two forms cannot
// drift apart.
#pragma once

#include "driver/exit_codes.h"
#include "driver/key_type.h"
#include "driver/limits.h"

// The namespace the table is compiled into: msg, or another for the second
// compilation.
#ifndef TARNSEK_MESSAGES_NAMESPACE
#define TARNSEK_MESSAGES_NAMESPACE msg
#endif

// A text the tool prints, and the exit code that ends the run when it is a
// failure's message (exit_code::kNormal for a log line). Every caller of
// LogMessage and FatalError passes an entry, so a message cannot be given
// another code at one place; the guide's test reads the codes from here too.
// It reads as its text wherever a text is wanted.
struct MessageEntry {
  int exitCode;
  const char* text;
  constexpr operator const char*() const { return text; }  // NOLINT(google-explicit-constructor)
};

namespace TARNSEK_MESSAGES_NAMESPACE {

// Allocation failures name what could not be made.
inline constexpr MessageEntry kCommandSwitchAlloc = {exit_code::kAllocation,
                                                     "CommandSwitch の確保に失敗しました."};
inline constexpr MessageEntry kStringBufferAlloc = {exit_code::kAllocation,
                                                    "文字列バッファの確保に失敗しました."};
inline constexpr MessageEntry kSortKeyAlloc = {exit_code::kAllocation, "CsvSortKey の生成に失敗しました."};
inline constexpr MessageEntry kSortOptionAlloc = {exit_code::kAllocation,
                                                  "CsvSortOption の生成に失敗しました."};
inline constexpr MessageEntry kCsvFileAlloc = {exit_code::kAllocation, "CsvFile の生成に失敗しました."};
inline constexpr MessageEntry kCsvRecordAlloc = {exit_code::kAllocation, "CsvRecord の生成に失敗しました."};

// Opening a file.
inline constexpr MessageEntry kOpenFailed = {exit_code::kOpen, "[%s] (%d) ファイルのオープンに失敗しました."};

// Run files: no name, or not deleted.
inline constexpr MessageEntry kTempFileName = {exit_code::kTempFile,
                                               "テンポラリファイル名の取得に失敗しました."};
inline constexpr MessageEntry kDeleteFailed = {exit_code::kTempFile, "[%s] ファイルが削除できません."};

// Reading and writing files.
inline constexpr MessageEntry kWriteFailed = {exit_code::kReadWrite,
                                              "[%s] (%d) ファイルの書き込みに失敗しました."};
inline constexpr MessageEntry kReadFailed = {exit_code::kReadWrite,
                                             "[%s] (%d) ファイルの読み込みに失敗しました."};

// An invalid sequence in a record.
inline constexpr MessageEntry kInvalidSequence = {exit_code::kInvalidSequence,
                                                  "[LINE:%d] 不正なシーケンスです."};

// Fixed limits.
inline constexpr MessageEntry kRecordTooLong = {exit_code::kLimit, "[LINE:%d] 最大レコード長を超えました."};
inline constexpr MessageEntry kTooManyFields = {exit_code::kLimit, "[LINE:%d] 最大フィールド数を超えました."};
inline constexpr MessageEntry kFieldBufferFull = {exit_code::kLimit,
                                                  "[LINE:%d] 読み込みバッファサイズを超えました."};
inline constexpr MessageEntry kTooManyDigits = {exit_code::kLimit, "[%s] 数値の有効桁数を超えました."};
inline constexpr MessageEntry kTooManyRunFiles = {exit_code::kLimit,
                                                  "テンポラリファイル数が規定値 [%d] を超えました."};

// The command line: switch counts, combinations and same files.
inline constexpr MessageEntry kNoInput = {exit_code::kCommandLine, "入力ファイル [/i] スイッチがありません."};
inline constexpr MessageEntry kDuplicateInput = {exit_code::kCommandLine,
                                                 "入力ファイル [/i] スイッチが重複しています."};
inline constexpr MessageEntry kNoOutput = {exit_code::kCommandLine,
                                           "出力ファイル [/o] スイッチがありません."};
inline constexpr MessageEntry kDuplicateOutput = {exit_code::kCommandLine,
                                                  "出力ファイル [/o] スイッチが重複しています."};
inline constexpr MessageEntry kDuplicateWork = {exit_code::kCommandLine,
                                                "テンポラリフォルダ [/w] スイッチが重複しています."};
inline constexpr MessageEntry kNoKeys = {exit_code::kCommandLine, "ソートキー [/k] スイッチがありません."};
inline constexpr MessageEntry kDuplicateKeys = {exit_code::kCommandLine,
                                                "ソートキー [/k] スイッチが重複しています."};
inline constexpr MessageEntry kInputAndMerge = {exit_code::kCommandLine,
                                                "入力ファイル [/i] とマージ [/m] スイッチが混在しています."};
inline constexpr MessageEntry kMergeAndCaption = {exit_code::kCommandLine,
                                                  "マージ [/m] とキャプション [/c] は併用できません."};
inline constexpr MessageEntry kDuplicateMerge = {exit_code::kCommandLine,
                                                 "マージ [/m] スイッチが重複しています."};
inline constexpr MessageEntry kInputIsOutput = {exit_code::kCommandLine,
                                                "入力ファイル [/i] と出力ファイル [/o] が同じファイルです."};
inline constexpr MessageEntry kOutputIsMergeFile = {
    exit_code::kCommandLine, "出力ファイル [/o] と同じファイルがマージファイル [/m] に指定されています."};

// The command line: path switch values.
inline constexpr MessageEntry kInputNoValue = {exit_code::kCommandLine,
                                               "入力ファイル [/i] にファイルの指定がありません."};
inline constexpr MessageEntry kInputNotFound = {exit_code::kCommandLine,
                                                "入力ファイル [/i] [%s] は見つかりません."};
inline constexpr MessageEntry kInputIsDirectory = {exit_code::kCommandLine,
                                                   "入力ファイル [/i] [%s] はディレクトリです."};
inline constexpr MessageEntry kOutputNoValue = {exit_code::kCommandLine,
                                                "出力ファイル [/o] にファイルの指定がありません."};
inline constexpr MessageEntry kOutputIsDirectory = {exit_code::kCommandLine,
                                                    "出力ファイル [/o] [%s] はディレクトリです."};
inline constexpr MessageEntry kOutputIsSystem = {exit_code::kCommandLine,
                                                 "出力ファイル [/o] [%s] はシステムファイルです."};
inline constexpr MessageEntry kOutputIsReadOnly = {exit_code::kCommandLine,
                                                   "出力ファイル [/o] [%s] は読み取り専用ファイルです."};
inline constexpr MessageEntry kOutputOverwrite = {exit_code::kNormal,
                                                  "出力ファイル [/o] [%s] を上書きします."};
inline constexpr MessageEntry kWorkNoValue = {exit_code::kCommandLine,
                                              "テンポラリパス [/w] にパスの指定がありません."};
inline constexpr MessageEntry kWorkNotDirectory = {exit_code::kCommandLine,
                                                   "テンポラリパス [/w] [%s] はディレクトリではありません."};
inline constexpr MessageEntry kMergeNoValue = {exit_code::kCommandLine,
                                               "マージファイル [/m] の指定がありません."};
inline constexpr MessageEntry kMergeTooMany = {exit_code::kCommandLine,
                                               "マージファイル [/m] のファイル数が規定値を超えました."};
inline constexpr MessageEntry kMergeNotFound = {exit_code::kCommandLine,
                                                "マージファイル [/m] [%s] は見つかりません."};
inline constexpr MessageEntry kMergeIsDirectory = {exit_code::kCommandLine,
                                                   "マージファイル [/m] [%s] はディレクトリです."};
inline constexpr MessageEntry kMergeDuplicate = {exit_code::kCommandLine,
                                                 "マージファイル [/m] [%s] は重複しています."};

// The command line: sort key specification.
inline constexpr MessageEntry kKeysNoValue = {exit_code::kCommandLine, "ソートキー [/k] の指定がありません."};
inline constexpr MessageEntry kKeysTooMany = {exit_code::kCommandLine,
                                              "ソートキー [/k] のキーが規定数を超えています."};
inline constexpr MessageEntry kKeysInvalid = {exit_code::kCommandLine, "ソートキー [/k] の値が不正です."};
inline constexpr MessageEntry kKeyItemInvalid = {exit_code::kCommandLine,
                                                 "ソートキー [/k] の値 [%s] が不正です."};
inline constexpr MessageEntry kKeyFieldDuplicate = {exit_code::kCommandLine,
                                                    "ソートキー [/k] のフィールド [%d] が重複しています."};

// The missing-key warning: the missing-key warning.
inline constexpr MessageEntry kMissingKeyField = {exit_code::kMissingKey,
                                                  "比較フィールドがないレコードが見つかりました."};

// Log lines: progress, not failures.
inline constexpr MessageEntry kBanner = {exit_code::kNormal, "%s Version %s %s"};
inline constexpr MessageEntry kSortKeys = {exit_code::kNormal, "ソートキー: [%s]"};
inline constexpr MessageEntry kFileOpened = {exit_code::kNormal, "[%s] ファイルをオープンしました."};
inline constexpr MessageEntry kFileClosed = {exit_code::kNormal, "[%s] ファイルをクローズしました."};
inline constexpr MessageEntry kSortStarted = {exit_code::kNormal, "ソートを開始しました."};
inline constexpr MessageEntry kSortFinished = {exit_code::kNormal, "ソートが終了しました."};
inline constexpr MessageEntry kChunkLoaded = {exit_code::kNormal, "バッファへ [%d] 行ロードしました."};
inline constexpr MessageEntry kRunFileWritten = {exit_code::kNormal,
                                                 "テンポラリファイルへレコードを [%d] 行出力しました."};
inline constexpr MessageEntry kMergeStarted = {exit_code::kNormal, "マージを開始しました."};
inline constexpr MessageEntry kMergeFinished = {exit_code::kNormal, "マージが終了しました."};
inline constexpr MessageEntry kInputRead = {exit_code::kNormal, "[%s] ファイルから [%d] 行読み込みました."};
inline constexpr MessageEntry kMergeWritten = {exit_code::kNormal,
                                               "マージファイルへレコードを [%d] 行出力しました."};
inline constexpr MessageEntry kFileDeleted = {exit_code::kNormal, "[%s] ファイルを削除しました."};

// Every message above, in the order of the file: a message's place here is
// also its place in the UTF-8 compilation of the table. A message added above
// belongs here too (the unit tests count the declarations).
inline constexpr const MessageEntry* kMessages[] = {
    &kCommandSwitchAlloc, &kStringBufferAlloc, &kSortKeyAlloc,     &kSortOptionAlloc,
    &kCsvFileAlloc,       &kCsvRecordAlloc,    &kOpenFailed,       &kTempFileName,
    &kDeleteFailed,       &kWriteFailed,       &kReadFailed,       &kInvalidSequence,
    &kRecordTooLong,      &kTooManyFields,     &kFieldBufferFull,  &kTooManyDigits,
    &kTooManyRunFiles,    &kNoInput,           &kDuplicateInput,   &kNoOutput,
    &kDuplicateOutput,    &kDuplicateWork,     &kNoKeys,           &kDuplicateKeys,
    &kInputAndMerge,      &kMergeAndCaption,   &kDuplicateMerge,   &kInputIsOutput,
    &kOutputIsMergeFile,  &kInputNoValue,      &kInputNotFound,    &kInputIsDirectory,
    &kOutputNoValue,      &kOutputIsDirectory, &kOutputIsSystem,   &kOutputIsReadOnly,
    &kOutputOverwrite,    &kWorkNoValue,       &kWorkNotDirectory, &kMergeNoValue,
    &kMergeTooMany,       &kMergeNotFound,     &kMergeIsDirectory, &kMergeDuplicate,
    &kKeysNoValue,        &kKeysTooMany,       &kKeysInvalid,      &kKeyItemInvalid,
    &kKeyFieldDuplicate,  &kMissingKeyField,   &kBanner,           &kSortKeys,
    &kFileOpened,         &kFileClosed,        &kSortStarted,      &kSortFinished,
    &kChunkLoaded,        &kRunFileWritten,    &kMergeStarted,     &kMergeFinished,
    &kInputRead,          &kMergeWritten,      &kFileDeleted,
};

// Each key type, the letter that names it in /K (in either case) and its
// words in the usage text, which lists them in this order.
struct KeyTypeName {
  KeyType type;
  char letter;
  const char* words;
};
inline constexpr KeyTypeName kKeyTypeNames[] = {
    {KeyType::kText, 'S', "文字列"},
    {KeyType::kTextIgnoreCase, 'I', "文字列(英字大小文字を区別しない)"},
    {KeyType::kNumber, 'N', "数値"},
    {KeyType::kDateTime, 'D', "日付時刻"},
};

// The usage text: sixteen lines, printed without a timestamp. Lines 7, 8 and
// 11 take the most keys, the highest field position and the most merge files.
// A line of the usage text and the limit that its %d shows (0: none), or
// for the line of key types, the key types that its %s shows.
struct UsageLine {
  const char* text;
  int limit;
  bool keyTypes = false;
};
inline constexpr UsageLine kUsage[] = {
    {"TARNSEK [/I ファイルパス] [/O ファイルパス] [/W ディレクトリパス]\n", 0},
    {"  [/K [フィールド位置],[フィールド型],[ソート順][:]...]\n", 0},
    {"  [/M \"[ファイルパス][|]...\"] [/C] [/T]\n", 0},
    {"/I\t\t\t入力ファイルパスを指定します。\n", 0},
    {"/O\t\t\t出力ファイルパスを指定します。\n", 0},
    {"/W\t\t\t省略できます。テンポラリファイル用のディレクトリを指定します。\n", 0},
    {"/K\t\t\tソートキーを指定します(最大 %d)。\n", kMaxSortKeys},
    {"フィールド位置\t\tフィールドの位置(1-%d)を指定します。\n", kMaxFields},
    {"フィールド型\t\t%s\n", 0, true},
    {"ソート順\t\tA 昇順, D 降順\n", 0},
    {"/M\t\t\tマージファイルパスを指定します(最大 %d)。\n", kMaxMergeFiles},
    {"\t\t\t必ずダブルクォーテーションで括ります。\n", 0},
    {"/C\t\t\tタイトル付きのデータをソートするときに指定します。\n", 0},
    {"\t\t\tマージには指定できません。\n", 0},
    {"/T\t\t\tタブ区切りオプションです。\n", 0},
    {"\t\t\tタブをエスケープすることはできません。\n", 0},
};

}  // namespace TARNSEK_MESSAGES_NAMESPACE
