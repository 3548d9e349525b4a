# Packs the sample database into the program: drvsetup (host) or
# drvsetup.exe (Windows) is the built image, the script and its length.

set(DRVSETUP_DATABASE "${CMAKE_SOURCE_DIR}/data/drives.reg" CACHE FILEPATH
    "Registry script packed into the shipped program")

if(CMAKE_CROSSCOMPILING)
  # The packer runs on the build machine, so it is built there with the
  # native compiler, at configure time.
  find_program(DRVSETUP_HOST_CXX NAMES c++ g++ clang++ REQUIRED
               NO_CMAKE_FIND_ROOT_PATH)
  set(packer "${CMAKE_BINARY_DIR}/host-tools/packreg")
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/host-tools")
  execute_process(
    COMMAND "${DRVSETUP_HOST_CXX}" -std=c++17 -O2 -I "${CMAKE_SOURCE_DIR}"
            -o "${packer}" "${CMAKE_SOURCE_DIR}/tools/packreg.cpp"
    RESULT_VARIABLE packer_result)
  if(NOT packer_result EQUAL 0)
    message(FATAL_ERROR "could not build the host packer")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               "${CMAKE_SOURCE_DIR}/tools/packreg.cpp"
               "${CMAKE_SOURCE_DIR}/tools/write_file.h")
  set(packer_target "")
else()
  add_executable(packreg tools/packreg.cpp)
  target_include_directories(packreg PRIVATE "${CMAKE_SOURCE_DIR}")
  set(packer "$<TARGET_FILE:packreg>")
  set(packer_target packreg)
endif()

set(packed "${CMAKE_BINARY_DIR}/drvsetup${CMAKE_EXECUTABLE_SUFFIX}")
add_custom_command(
  OUTPUT "${packed}"
  COMMAND "${packer}" "$<TARGET_FILE:drvsetup_image>" "${DRVSETUP_DATABASE}"
          "${packed}"
  DEPENDS drvsetup_image ${packer_target} "${DRVSETUP_DATABASE}"
  COMMENT "Packing the drive database into drvsetup${CMAKE_EXECUTABLE_SUFFIX}"
  VERBATIM)
add_custom_target(drvsetup_packed ALL DEPENDS "${packed}")
