# Modules of the handheld (drivers, plug-ins, libraries that LoadLibrary
# finds by their handheld names) are built into one folder, named without a
# "lib" prefix, so "FERRIX.DLL" finds Ferrix.so there.
set(HANDHELD_MODULE_FOLDER ${CMAKE_BINARY_DIR}/modules)

# add_handheld_module(<name> SOURCES <files...> EXPORTS <version script>
#                     [ENTRY <entry point>] [LIBS <libs...>])
# A shared library whose dynamic symbol table holds exactly the names the
# version script exports. The entry point (DllMain) is named in the ELF
# header, where the loader looks for it, and need not be exported.
function(add_handheld_module name)
  cmake_parse_arguments(ARG "" "EXPORTS;ENTRY" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${HANDHELD_MODULE_FOLDER}
    INSTALL_RPATH "$ORIGIN/.."  # installed one folder below the platform library
    LINK_DEPENDS ${ARG_EXPORTS})
  target_link_options(${name} PRIVATE -Wl,--version-script=${ARG_EXPORTS})
  # As for the platform: a fuzzer build leaves the sanitizer runtimes to the
  # program.
  if(NOT SANITIZE STREQUAL "fuzzer")
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  if(ARG_ENTRY)
    target_link_options(${name} PRIVATE -Wl,-e,${ARG_ENTRY})
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()
