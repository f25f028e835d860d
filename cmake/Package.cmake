# What `cmake --install` puts under its prefix besides the programs (each
# program's folder installs it into bin/), the manual pages, and the Debian
# package that cpack makes of the same tree (scripts/package.sh).

# The platform library where the programs' RPATH finds it, the modules that stand
# for the handheld's ROM, the packages' cabinets the host installs.
install(TARGETS platform LIBRARY DESTINATION ${HANDHELD_INSTALL_LIBDIR})
set_target_properties(platform PROPERTIES INSTALL_RPATH "")
install(TARGETS Ferrix Tessiv Kolvane SleeveSerial
        LIBRARY DESTINATION ${HANDHELD_INSTALL_MODULEDIR})
install(FILES ${CMAKE_BINARY_DIR}/setup/GpsSleeve.CAB ${CMAKE_BINARY_DIR}/setup/SecondSleeve.CAB
        DESTINATION ${HANDHELD_INSTALL_PACKAGEDIR})

# Manual pages: help2man makes each program's page from its --help, the
# same text the program prints; the viewer, which takes no options, has a
# page written by hand. All are compressed, as Debian keeps them.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
set(manuals_dir ${CMAKE_BINARY_DIR}/man)
set(manuals)
# add_manual(<program target> <what it is, for the NAME line>)
function(add_manual program description)
  set(page ${manuals_dir}/${program}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${manuals_dir}
    COMMAND ${HELP2MAN} --no-info --version-string=${PROJECT_VERSION} --name=${description}
                        --output=${page} $<TARGET_FILE:${program}>
    COMMAND ${GZIP} -9nf ${page}
    DEPENDS ${program}
    COMMENT "Manual page of ${program}"
    VERBATIM)
  set(manuals ${manuals} ${page}.gz PARENT_SCOPE)
endfunction()
if(HELP2MAN AND GZIP)
  add_manual(handheld "the simulated handheld's host and the GPS sleeve's main command")
  add_manual(receiver-sim "a simulated SiRF GPS receiver on a serial line")
  add_manual(capture-decode "a receiver capture decoded as the GPS viewer decodes it")
  add_manual(link-monitor "the GPS receiver's status as the viewer reads it, on the console")
  add_manual(receiver-rate "finds a SiRF receiver's line rate and sets the viewer's")
  add_manual(receiver-version "reads a GPS receiver's software version as the viewer does")
  add_manual(post-message "the remote control of programs with windows on the simulated handheld")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/man/quelmar.1 ${manuals_dir}/quelmar.1 @ONLY)
  add_custom_command(OUTPUT ${manuals_dir}/quelmar.1.gz
    COMMAND ${GZIP} -9nc ${manuals_dir}/quelmar.1 > ${manuals_dir}/quelmar.1.gz
    DEPENDS ${manuals_dir}/quelmar.1
    VERBATIM)
  list(APPEND manuals ${manuals_dir}/quelmar.1.gz)
  add_custom_target(manuals ALL DEPENDS ${manuals})
  install(FILES ${manuals} DESTINATION ${HANDHELD_INSTALL_MANDIR})
else()
  message(WARNING "help2man or gzip not found: no manual pages (scripts/install-deps.sh installs them)")
endif()

# The Debian package: cpack (scripts/package.sh) installs the tree under
# /usr and adds the libraries the programs link as dependencies
# (dpkg-shlibdeps), and by hand the fonts the platform draws with.
set(GPS_SLEEVE_MAINTAINER "GPS sleeve developers <gps-sleeve@example.org>" CACHE STRING
    "The Debian package's maintainer")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gps-sleeve)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${GPS_SLEEVE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GPS sleeve software stack on a simulated Pocket PC handheld")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The status viewer of a GPS receiver sleeve for a Pocket PC handheld, its\n"
    "sleeve library, bus driver and installer plug-in, running on a simulated\n"
    "handheld: registry, device manager, serial ports, windows and drawing.\n"
    "The handheld command runs it all on a simulated SiRF receiver or a real\n"
    "one, in an X11 window or headless.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Fonts are read at run time, not linked: the platform draws with
# Liberation Sans alone (platform/fonts/handheld-fonts.conf).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
# The package's copyright and changelog, where Debian keeps them.
string(TIMESTAMP PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/debian/changelog
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION share/doc/${CPACK_PACKAGE_NAME})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides DESTINATION share/lintian/overrides
        RENAME ${CPACK_PACKAGE_NAME})
include(CPack)

# Everything the installed tree holds, built by `cmake --build build
# --target shipped` alone (scripts/package.sh), without the tests.
add_custom_target(shipped)
add_dependencies(shipped platform Ferrix Tessiv Kolvane SleeveSerial cabinets handheld quelmar receiver-sim
                 capture-decode link-monitor receiver-rate receiver-version post-message)
if(TARGET manuals)
  add_dependencies(shipped manuals)
endif()
# The test of the installed tree installs this build and runs the result.
if(TARGET InstalledPrefixTest)
  target_compile_definitions(InstalledPrefixTest PRIVATE CMAKE_COMMAND="${CMAKE_COMMAND}"
                             INSTALL_BUILD_DIR="${CMAKE_BINARY_DIR}"
                             INSTALL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(InstalledPrefixTest shipped)
endif()

# No shipped program links test code: the configuration fails when one of
# them, or a library it or its libraries link, is a test-support target or
# GoogleTest.
set(test_code platform_testing test_support GTest::gtest GTest::gtest_main GTest::gmock
              GTest::gmock_main GTest::GTest GTest::Main)
function(check_links_no_test_code program target seen)
  foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    get_target_property(libraries ${target} ${property})
    if(NOT libraries)
      continue()
    endif()
    foreach(library IN LISTS libraries)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" library "${library}")
      if(library IN_LIST test_code)
        message(FATAL_ERROR
                "the shipped program ${program} links test code (${library}, through ${target})")
      endif()
      if(TARGET ${library} AND NOT library IN_LIST seen)
        list(APPEND seen ${library})
        check_links_no_test_code(${program} ${library} "${seen}")
      endif()
    endforeach()
  endforeach()
endfunction()
get_target_property(shipped_targets shipped MANUALLY_ADDED_DEPENDENCIES)
foreach(program IN LISTS shipped_targets)
  check_links_no_test_code(${program} ${program} "${program}")
endforeach()
