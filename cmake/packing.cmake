# Packs the sample database into the program: drvsetup (host) or
# drvsetup.exe (Windows) is the built image, the script and its length,
# written by `drvdb pack`, which checks the script first and refuses any
# finding whose kind is not allowed.

set(DRVSETUP_DATABASE "${CMAKE_SOURCE_DIR}/data/drives.reg" CACHE FILEPATH
    "Registry script packed into the shipped program")
# A database allows its findings where they stand, in comments ("; drvdb:
# allow=KIND" above the line): the sample does so for its header that lacks
# its '[', its repeated headers and its spellings that differ in letter
# case. Any other finding fails the build, unless its kind is named here.
set(DRVSETUP_DATABASE_ALLOW "" CACHE STRING
    "Kinds of finding that the packed database may carry everywhere (drvdb --allow)")

set(DRVSETUP_HOST_DRVDB "" CACHE FILEPATH
    "A native drvdb to pack with in a cross build (else one is built)")

if(CMAKE_CROSSCOMPILING AND DRVSETUP_HOST_DRVDB)
  set(packer "${DRVSETUP_HOST_DRVDB}")
  set(packer_target "")
elseif(CMAKE_CROSSCOMPILING)
  # drvdb runs on the build machine and uses the program's code on the
  # registry stand-in, so it comes from a native build of this project.
  include(ExternalProject)
  set(host_tools "${CMAKE_BINARY_DIR}/host-tools")
  ExternalProject_Add(host_tools
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${host_tools}"
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DDRVSETUP_TESTS=OFF
               -DCMAKE_TOOLCHAIN_FILE=
    BUILD_COMMAND ${CMAKE_COMMAND} --build "${host_tools}" --target drvdb
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS "${host_tools}/drvdb")
  set(packer "${host_tools}/drvdb")
  set(packer_target host_tools)
else()
  set(packer "$<TARGET_FILE:drvdb>")
  set(packer_target drvdb)
endif()

set(packed "${CMAKE_BINARY_DIR}/drvsetup${CMAKE_EXECUTABLE_SUFFIX}")
add_custom_command(
  OUTPUT "${packed}"
  COMMAND "${packer}" pack "--allow=${DRVSETUP_DATABASE_ALLOW}"
          "$<TARGET_FILE:drvsetup_image>"
          "${DRVSETUP_DATABASE}" "${packed}"
  DEPENDS drvsetup_image ${packer_target} "${DRVSETUP_DATABASE}"
          ${DRVSETUP_HOST_DRVDB}
  COMMENT "Packing the drive database into drvsetup${CMAKE_EXECUTABLE_SUFFIX}"
  VERBATIM)
add_custom_target(drvsetup_packed ALL DEPENDS "${packed}")
