// Every text the tool prints, in one place. The source keeps them readable as
// UTF-8; the build compiles them to code page 932 bytes (-fexec-charset=CP932),
// which is what the Windows console and the callers' scripts see. A log
// written in UTF-8 takes the same table compiled once more, with UTF-8 as the
// execution character set (driver/messages_utf8.cc), so the two forms cannot
// drift apart.
#pragma once

#include "driver/options.h"

// The namespace the table is compiled into: msg, or another for the second
// compilation.
#ifndef TARNSEK_MESSAGES_NAMESPACE
#define TARNSEK_MESSAGES_NAMESPACE msg
#endif

namespace TARNSEK_MESSAGES_NAMESPACE {

// 1001: allocation failures name what could not be made.
inline constexpr char kCommandSwitchAlloc[] = "CommandSwitch の確保に失敗しました.";
inline constexpr char kStringBufferAlloc[] = "文字列バッファの確保に失敗しました.";
inline constexpr char kSortKeyAlloc[] = "CsvSortKey の生成に失敗しました.";
inline constexpr char kSortOptionAlloc[] = "CsvSortOption の生成に失敗しました.";
inline constexpr char kCsvFileAlloc[] = "CsvFile の生成に失敗しました.";
inline constexpr char kCsvRecordAlloc[] = "CsvRecord の生成に失敗しました.";

// 1002
inline constexpr char kOpenFailed[] = "[%s] (%d) ファイルのオープンに失敗しました.";

// 1003
inline constexpr char kTempFileName[] = "テンポラリファイル名の取得に失敗しました.";
inline constexpr char kDeleteFailed[] = "[%s] ファイルが削除できません.";

// 1004
inline constexpr char kWriteFailed[] = "[%s] (%d) ファイルの書き込みに失敗しました.";
inline constexpr char kReadFailed[] = "[%s] (%d) ファイルの読み込みに失敗しました.";

// 2001
inline constexpr char kInvalidSequence[] = "[LINE:%d] 不正なシーケンスです.";

// 2002
inline constexpr char kRecordTooLong[] = "[LINE:%d] 最大レコード長を超えました.";
inline constexpr char kTooManyFields[] = "[LINE:%d] 最大フィールド数を超えました.";
inline constexpr char kFieldBufferFull[] = "[LINE:%d] 読み込みバッファサイズを超えました.";
inline constexpr char kTooManyDigits[] = "[%s] 数値の有効桁数を超えました.";
inline constexpr char kTooManyRunFiles[] = "テンポラリファイル数が規定値 [%d] を超えました.";

// 3001: switch counts, combinations and same files.
inline constexpr char kNoInput[] = "入力ファイル [/i] スイッチがありません.";
inline constexpr char kDuplicateInput[] = "入力ファイル [/i] スイッチが重複しています.";
inline constexpr char kNoOutput[] = "出力ファイル [/o] スイッチがありません.";
inline constexpr char kDuplicateOutput[] = "出力ファイル [/o] スイッチが重複しています.";
inline constexpr char kDuplicateWork[] = "テンポラリフォルダ [/w] スイッチが重複しています.";
inline constexpr char kNoKeys[] = "ソートキー [/k] スイッチがありません.";
inline constexpr char kDuplicateKeys[] = "ソートキー [/k] スイッチが重複しています.";
inline constexpr char kInputAndMerge[] = "入力ファイル [/i] とマージ [/m] スイッチが混在しています.";
inline constexpr char kMergeAndCaption[] = "マージ [/m] とキャプション [/c] は併用できません.";
inline constexpr char kDuplicateMerge[] = "マージ [/m] スイッチが重複しています.";
inline constexpr char kInputIsOutput[] = "入力ファイル [/i] と出力ファイル [/o] が同じファイルです.";
inline constexpr char kOutputIsMergeFile[] =
    "出力ファイル [/o] と同じファイルがマージファイル [/m] に指定されています.";

// 3001: path switch values.
inline constexpr char kInputNoValue[] = "入力ファイル [/i] にファイルの指定がありません.";
inline constexpr char kInputNotFound[] = "入力ファイル [/i] [%s] は見つかりません.";
inline constexpr char kInputIsDirectory[] = "入力ファイル [/i] [%s] はディレクトリです.";
inline constexpr char kOutputNoValue[] = "出力ファイル [/o] にファイルの指定がありません.";
inline constexpr char kOutputIsDirectory[] = "出力ファイル [/o] [%s] はディレクトリです.";
inline constexpr char kOutputIsSystem[] = "出力ファイル [/o] [%s] はシステムファイルです.";
inline constexpr char kOutputIsReadOnly[] = "出力ファイル [/o] [%s] は読み取り専用ファイルです.";
inline constexpr char kOutputOverwrite[] = "出力ファイル [/o] [%s] を上書きします.";
inline constexpr char kWorkNoValue[] = "テンポラリパス [/w] にパスの指定がありません.";
inline constexpr char kWorkNotDirectory[] = "テンポラリパス [/w] [%s] はディレクトリではありません.";
inline constexpr char kMergeNoValue[] = "マージファイル [/m] の指定がありません.";
inline constexpr char kMergeTooMany[] = "マージファイル [/m] のファイル数が規定値を超えました.";
inline constexpr char kMergeNotFound[] = "マージファイル [/m] [%s] は見つかりません.";
inline constexpr char kMergeIsDirectory[] = "マージファイル [/m] [%s] はディレクトリです.";
inline constexpr char kMergeDuplicate[] = "マージファイル [/m] [%s] は重複しています.";

// 3001: sort key specification.
inline constexpr char kKeysNoValue[] = "ソートキー [/k] の指定がありません.";
inline constexpr char kKeysTooMany[] = "ソートキー [/k] のキーが規定数を超えています.";
inline constexpr char kKeysInvalid[] = "ソートキー [/k] の値が不正です.";
inline constexpr char kKeyItemInvalid[] = "ソートキー [/k] の値 [%s] が不正です.";
inline constexpr char kKeyFieldDuplicate[] = "ソートキー [/k] のフィールド [%d] が重複しています.";

// 4001: the missing-key warning.
inline constexpr char kMissingKeyField[] = "比較フィールドがないレコードが見つかりました.";

// Informational lines.
inline constexpr char kBanner[] = "%s Version %s %s";
inline constexpr char kSortKeys[] = "ソートキー: [%s]";
inline constexpr char kFileOpened[] = "[%s] ファイルをオープンしました.";
inline constexpr char kFileClosed[] = "[%s] ファイルをクローズしました.";
inline constexpr char kSortStarted[] = "ソートを開始しました.";
inline constexpr char kSortFinished[] = "ソートが終了しました.";
inline constexpr char kChunkLoaded[] = "バッファへ [%d] 行ロードしました.";
inline constexpr char kRunFileWritten[] = "テンポラリファイルへレコードを [%d] 行出力しました.";
inline constexpr char kMergeStarted[] = "マージを開始しました.";
inline constexpr char kMergeFinished[] = "マージが終了しました.";
inline constexpr char kInputRead[] = "[%s] ファイルから [%d] 行読み込みました.";
inline constexpr char kMergeWritten[] = "マージファイルへレコードを [%d] 行出力しました.";
inline constexpr char kFileDeleted[] = "[%s] ファイルを削除しました.";

// Every message above, in the order of the file: a message's place here is
// also its place in the UTF-8 compilation of the table. A message added above
// belongs here too (the unit tests count the declarations).
inline constexpr const char* kMessages[] = {
    kCommandSwitchAlloc, kStringBufferAlloc, kSortKeyAlloc,     kSortOptionAlloc,
    kCsvFileAlloc,       kCsvRecordAlloc,    kOpenFailed,       kTempFileName,
    kDeleteFailed,       kWriteFailed,       kReadFailed,       kInvalidSequence,
    kRecordTooLong,      kTooManyFields,     kFieldBufferFull,  kTooManyDigits,
    kTooManyRunFiles,    kNoInput,           kDuplicateInput,   kNoOutput,
    kDuplicateOutput,    kDuplicateWork,     kNoKeys,           kDuplicateKeys,
    kInputAndMerge,      kMergeAndCaption,   kDuplicateMerge,   kInputIsOutput,
    kOutputIsMergeFile,  kInputNoValue,      kInputNotFound,    kInputIsDirectory,
    kOutputNoValue,      kOutputIsDirectory, kOutputIsSystem,   kOutputIsReadOnly,
    kOutputOverwrite,    kWorkNoValue,       kWorkNotDirectory, kMergeNoValue,
    kMergeTooMany,       kMergeNotFound,     kMergeIsDirectory, kMergeDuplicate,
    kKeysNoValue,        kKeysTooMany,       kKeysInvalid,      kKeyItemInvalid,
    kKeyFieldDuplicate,  kMissingKeyField,   kBanner,           kSortKeys,
    kFileOpened,         kFileClosed,        kSortStarted,      kSortFinished,
    kChunkLoaded,        kRunFileWritten,    kMergeStarted,     kMergeFinished,
    kInputRead,          kMergeWritten,      kFileDeleted,
};

// The usage text: sixteen lines, printed without a timestamp. Lines 7, 8 and
// 11 take the most keys, the highest field position and the most merge files.
// A line of the usage text and the limit that its %d shows (0: none).
struct UsageLine {
  const char* text;
  int limit;
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
    {"フィールド型\t\tS 文字列, I 文字列(英字大小文字を区別しない), N 数値, D 日付時刻\n", 0},
    {"ソート順\t\tA 昇順, D 降順\n", 0},
    {"/M\t\t\tマージファイルパスを指定します(最大 %d)。\n", kMaxMergeFiles},
    {"\t\t\t必ずダブルクォーテーションで括ります。\n", 0},
    {"/C\t\t\tタイトル付きのデータをソートするときに指定します。\n", 0},
    {"\t\t\tマージには指定できません。\n", 0},
    {"/T\t\t\tタブ区切りオプションです。\n", 0},
    {"\t\t\tタブをエスケープすることはできません。\n", 0},
};

}  // namespace TARNSEK_MESSAGES_NAMESPACE
