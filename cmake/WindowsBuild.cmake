# The deliverables built for desktop Windows as well, with mingw-w64 where
# it is installed, into <build>/windows, so that the tests can run them
# under Wine. Sanitizer builds leave it out: it would be the same build.
set(HANDHELD_WINDOWS_DIR "")
find_program(MINGW_CXX x86_64-w64-mingw32-g++)
if(MINGW_CXX AND SANITIZE STREQUAL "")
  include(ExternalProject)
  set(windows_build ${CMAKE_BINARY_DIR}/windows)
  set(HANDHELD_WINDOWS_DIR ${windows_build}/platform/win32)
  set(windows_products)
  foreach(product quelmar.exe quelmar-remote.exe Ferrix.dll Tessiv.dll Kolvane.dll)
    list(APPEND windows_products ${HANDHELD_WINDOWS_DIR}/${product})
  endforeach()
  ExternalProject_Add(windows
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${windows_build}
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64.cmake
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${windows_products}
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD OFF)
endif()
