# Fails when the launcher executable EXE names libarchive among the libraries it needs at start: then
# some libarchive function the extractor calls has no forwarder in archive-on-demand.cpp. Writes STAMP
# when it passes. Run by the launcher-archive-check target: cmake "-DLIST=objdump;-p" (or "otool;-L" on
# macOS) -DEXE=... -DSTAMP=... -P
execute_process(COMMAND ${LIST} ${EXE} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot list the libraries ${EXE} needs with '${LIST}'")
endif()
if(headers MATCHES "(NEEDED +|\t)([^\n]*libarchive[^\n]*)")
  file(REMOVE ${STAMP})
  message(FATAL_ERROR "${EXE} needs ${CMAKE_MATCH_2} at start: a libarchive function the extractor calls has "
                      "no forwarder in archive-on-demand.cpp (add one beside the others)")
endif()
file(TOUCH ${STAMP})
