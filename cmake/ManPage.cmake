# Writes a man page from a program's --help text, the one source of both.
#   cmake -DPROGRAM=... -DNAME=... -DSUMMARY=... -DVERSION=... -DOUTPUT=... -P ManPage.cmake
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${rc}")
endif()
# roff: backslashes doubled, a leading dot or quote escaped.
string(REPLACE "\\" "\\\\" help "${help}")
string(REPLACE "\n." "\n\\&." help "${help}")
string(REPLACE "\n'" "\n\\&'" help "${help}")
# The synopsis is the "Usage:" (or "Program use:") line; a leading "Usage:"
# line leaves the description.
set(synopsis "${NAME}")
set(body "${help}")
if(help MATCHES "^Usage: ([^\n]*)\n")
  set(synopsis "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^Usage: [^\n]*\n" "" body "${help}")
elseif(help MATCHES "\nProgram use: ([^\n]*)\n")
  set(synopsis "${CMAKE_MATCH_1}")
endif()
string(REPLACE "-" "\\-" synopsis "${synopsis}")
string(TOUPPER "${NAME}" upper)
file(WRITE ${OUTPUT}
  ".TH ${upper} 1 \"\" \"${NAME} ${VERSION}\" \"QEL4410 flash programming system\"\n"
  ".SH NAME\n${NAME} \\- ${SUMMARY}\n"
  ".SH SYNOPSIS\n.B ${synopsis}\n"
  ".SH DESCRIPTION\n.nf\n${body}.fi\n"
  ".SH SEE ALSO\n.BR qel-flash (1),\n.BR qel-bench (1)\n")
