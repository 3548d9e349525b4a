# Builds the win32 program twice from scratch, in two different directories,
# and requires byte-identical packed programs.
foreach(n 1 2)
  set(dir "${WORK}/build-${n}")
  file(REMOVE_RECURSE "${dir}")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${dir}"
            -DCMAKE_TOOLCHAIN_FILE=${SOURCE}/cmake/toolchain-i686-w64-mingw32.cmake
            -DCMAKE_BUILD_TYPE=MinSizeRel -DDRVSETUP_TESTS=OFF
            -DDRVSETUP_HOST_DRVDB=${DRVDB}
    OUTPUT_QUIET RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "configure ${n} failed")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" --build "${dir}" -j 2
                  OUTPUT_QUIET RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "build ${n} failed")
  endif()
endforeach()
foreach(file drvsetup_image.exe drvsetup.exe)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files
                          "${WORK}/build-1/${file}" "${WORK}/build-2/${file}"
                  RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "two clean builds made different ${file}")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}/build-1" "${WORK}/build-2")
message(STATUS "two clean builds are byte-identical")
