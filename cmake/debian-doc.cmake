# Writes IN to OUT compressed as Debian wants documentation (gzip -9n: no name, no time stamp),
# with VERSION in the manual page's header when one is given.
file(READ ${IN} text)
if(VERSION)
    string(REGEX REPLACE "\n\\.TH ([^\n]*) \"Pemo\"" "\n.TH \\1 \"Pemo ${VERSION}\"" text "\n${text}")
    string(SUBSTRING "${text}" 1 -1 text)
endif()
file(WRITE ${OUT}.plain "${text}")
execute_process(COMMAND gzip -9nc ${OUT}.plain OUTPUT_FILE ${OUT} RESULT_VARIABLE failed)
file(REMOVE ${OUT}.plain)
if(failed)
    message(FATAL_ERROR "gzip could not compress ${IN}")
endif()
