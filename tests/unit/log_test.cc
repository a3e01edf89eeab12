#include "driver/exit_codes.h"
#include "driver/messages.h"
#include "fatal_capture.h"
TEST(FatalCapture, CapturesCodeAndMessage) {
  EXPECT_FATAL(FatalError(exit_code::kLimit, msg::kRecordTooLong, 7), exit_code::kLimit,
               "[LINE:7] 最大レコード長を超えました.");
}
