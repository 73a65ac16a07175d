# Fails when the launcher executable EXE names libarchive among the libraries it needs at start: then
# some libarchive function the extractor calls has no forwarder in archive-on-demand.cpp. Writes STAMP
# when it passes. Run by the launcher-archive-check target: cmake -DOBJDUMP=... -DEXE=... -DSTAMP=... -P
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot read the dynamic section of ${EXE}")
endif()
if(headers MATCHES "NEEDED +(libarchive[^\n]*)")
  file(REMOVE ${STAMP})
  message(FATAL_ERROR "${EXE} needs ${CMAKE_MATCH_1} at start: a libarchive function the extractor calls has "
                      "no forwarder in archive-on-demand.cpp (add one beside the others)")
endif()
file(TOUCH ${STAMP})
