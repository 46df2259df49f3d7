# Makes (once) the throwaway publisher key of the end-to-end tests and a source file that compiles its
# public half into a tarnel of their own. -DSIGN=<tarnel-sign> -DKEY=<pem> -DOUT=<cpp>
if(EXISTS ${KEY})
  execute_process(COMMAND ${SIGN} public --key ${KEY} OUTPUT_VARIABLE public RESULT_VARIABLE failed)
else()
  execute_process(COMMAND ${SIGN} keygen --out ${KEY} OUTPUT_VARIABLE public RESULT_VARIABLE failed)
endif()
if(failed)
  message(FATAL_ERROR "tarnel-sign could not make the test key")
endif()
string(STRIP "${public}" public)
file(WRITE ${OUT} "extern const char* const publisherKeys;\nconst char* const publisherKeys = \"${public}\";\n")
