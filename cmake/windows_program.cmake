# The Windows program: windowed subsystem yet no window of its own, no DLLs
# beyond the system's (static runtime), PE subsystem and OS version 4.0,
# deterministic output, one icon and the application manifest.
enable_language(RC)
target_sources(drvsetup_image PRIVATE setup/drvsetup.rc)
set_source_files_properties(setup/drvsetup.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/setup/drvsetup.ico;${CMAKE_SOURCE_DIR}/setup/drvsetup.manifest")
set_target_properties(drvsetup_image PROPERTIES WIN32_EXECUTABLE ON)
foreach(target drvsetup_program drvsetup_image)
  # The C runtime's own snprintf is enough; mingw's replacement would pull in
  # its whole printf engine.
  target_compile_options(${target} PRIVATE -ffunction-sections -fdata-sections
                         -D__USE_MINGW_ANSI_STDIO=0)
endforeach()
target_link_options(drvsetup_image PRIVATE
  -static
  -s
  -Wl,--gc-sections
  -Wl,--no-insert-timestamp
  -Wl,--subsystem,windows:4.0
  -Wl,--major-os-version,4
  -Wl,--minor-os-version,0)
