# Writes one manual page with help2man from the program's own --help and --version, then
# compresses it as Debian wants (gzip -9n: no name, no time stamp). UTF-8: the pages quote the
# programs' Korean texts.
#   cmake -DHELP2MAN=... -DPROGRAM=<executable> -DNAME=<one line> -DOUTPUT=<x.1> [-DHELP_OPTION=...]
#         [-DINCLUDES=<a.h2m;b.h2m>] [-DCODES=ON] -P manpage.cmake
# CODES=ON adds the section of result codes, listed by the program itself ("vantor codes").
set(includes)
foreach(file ${INCLUDES})
  list(APPEND includes --include=${file})
endforeach()

if(CODES)
  execute_process(COMMAND ${PROGRAM} codes OUTPUT_VARIABLE table RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} codes failed: ${rc}")
  endif()
  set(section "[RESULT CODES]\nAfter a failure the text \"통신에러\" and a result code are followed by a line saying what the code means; \\fBvantor codes\\fR [\\fICODE\\fR...] tells it at any time.\n")
  string(REPLACE "\n" ";" lines "${table}")
  foreach(line ${lines})
    if(line MATCHES "^([^:]+): (.*)$")
      string(REPLACE "-" "\\-" code "${CMAKE_MATCH_1}")
      string(APPEND section ".TP\n\\fB${code}\\fR\n${CMAKE_MATCH_2}\n")
    endif()
  endforeach()
  set(codes_file ${OUTPUT}.codes.h2m)
  file(WRITE ${codes_file} "${section}")
  list(APPEND includes --include=${codes_file})
endif()

if(NOT HELP_OPTION)
  set(HELP_OPTION --help)
endif()
execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --locale=C.UTF-8 --section=1 --name=${NAME}
          --help-option=${HELP_OPTION} ${includes} --output=${OUTPUT} ${PROGRAM}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man ${PROGRAM} failed: ${rc}")
endif()
execute_process(COMMAND gzip -9nf ${OUTPUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip ${OUTPUT} failed: ${rc}")
endif()
