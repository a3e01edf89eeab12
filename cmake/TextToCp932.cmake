# Turns a UTF-8 text with LF line ends into code page 932 with CR LF, the form
# a Windows console user's editor opens without guessing, in script mode:
#   cmake -DSOURCE=in.txt -DTARGET=out.txt -P cmake/TextToCp932.cmake
# The conversion is iconv's, the same one the compiler uses for the messages,
# so the texts of the tool and of its notes agree byte for byte.
if(NOT SOURCE OR NOT TARGET)
  message(FATAL_ERROR "TextToCp932: SOURCE and TARGET are required")
endif()
find_program(TARNSEK_ICONV iconv REQUIRED)
file(READ "${SOURCE}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${TARGET}.crlf" "${text}")
execute_process(
  COMMAND ${TARNSEK_ICONV} -f UTF-8 -t CP932 "${TARGET}.crlf"
  OUTPUT_FILE "${TARGET}"
  RESULT_VARIABLE status
  ERROR_VARIABLE problem)
file(REMOVE "${TARGET}.crlf")
if(NOT status EQUAL 0)
  file(REMOVE "${TARGET}")
  message(FATAL_ERROR "TextToCp932: ${SOURCE} is not convertible to CP932: ${problem}")
endif()
