# Writes a text file for the Windows zip, with CR LF line ends:
#   cmake -DIN=FILE -DOUT=FILE [-DGROFF=PATH] -P windows-text.cmake
# With GROFF, IN is a manual page, rendered as plain ASCII text (no
# overstrikes for bold or underlining, which Notepad would show as they are);
# without it, IN is copied as it is.
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${IN}
    OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
    message(FATAL_ERROR "groff on ${IN}: ${status}\n${errors}")
  endif()
else()
  file(READ ${IN} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
