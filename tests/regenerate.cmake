# Runs a generator and requires it to write exactly the committed file.
execute_process(COMMAND "${GENERATOR}" "${OUTPUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUTPUT}"
                        "${EXPECTED}" RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} no longer writes ${EXPECTED}")
endif()
