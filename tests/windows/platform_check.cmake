# Runs platform_check under wine in a fresh directory that holds what it looks
# for: a directory of 150 letters "d" with a file of 100 letters "f", whose
# long name does not fit in 259 bytes though its short name does.
#
#   cmake -DWINE=wine -DCHECK=platform_check.exe -DWORK=DIRECTORY -P platform_check.cmake
file(REMOVE_RECURSE ${WORK})
string(REPEAT d 150 long_directory)
string(REPEAT f 100 long_file)
file(MAKE_DIRECTORY ${WORK}/${long_directory})
file(TOUCH ${WORK}/${long_directory}/${long_file})
execute_process(COMMAND ${WINE} ${CHECK}
  WORKING_DIRECTORY ${WORK} INPUT_FILE /dev/null
  OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result)
message("${output}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "platform checks failed (${result}); files in ${WORK}\n${errors}")
endif()
file(REMOVE_RECURSE ${WORK})
