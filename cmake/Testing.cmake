# add_tests_in(<dir> LIBS <libs...> [DEFINITIONS <defs...>] [DEPENDS <targets...>]
#              [INCLUDES <dirs...>]): every <dir>/*.cpp becomes one test
# program, and each of its test cases a CTest test, so ctest -j runs them in
# parallel. DEFINITIONS and INCLUDES apply to every program, which is built
# after the DEPENDS targets (programs the tests run).
function(add_tests_in dir)
  cmake_parse_arguments(ARG "" "" "LIBS;DEFINITIONS;DEPENDS;INCLUDES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  foreach(source ${sources})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
    target_compile_definitions(${name} PRIVATE ${ARG_DEFINITIONS})
    target_include_directories(${name} PRIVATE ${ARG_INCLUDES})
    if(ARG_DEPENDS)
      add_dependencies(${name} ${ARG_DEPENDS})
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endforeach()
endfunction()

# add_benchmarks_in(<dir> LIBS <libs...>): every <dir>/*.cpp becomes one
# Google Benchmark program (not a test).
function(add_benchmarks_in dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  if(NOT benchmark_FOUND)
    return()
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  foreach(source ${sources})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark_main Threads::Threads)
  endforeach()
endfunction()
