# add_resource_script(<target> <script.rc> [DEPENDS <files...>])
# Compiles a resource script with mingw-w64's windres into the standard
# binary resource format, as a Windows build does, and embeds the result in
# <target>, which registers it for its module at start-up (the stand-in's
# resource calls read it there). DEPENDS names the files the script reads
# (headers, icons).
find_program(HANDHELD_WINDRES x86_64-w64-mingw32-windres REQUIRED)
function(add_resource_script target script)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(image_name ${script} NAME_WE)
  get_filename_component(script_dir ${script} DIRECTORY)
  set(image_res ${CMAKE_CURRENT_BINARY_DIR}/${image_name}.res)
  add_custom_command(OUTPUT ${image_res}
    COMMAND ${HANDHELD_WINDRES} -O res -I ${script_dir} -i ${script} -o ${image_res}
    DEPENDS ${script} ${ARG_DEPENDS}
    COMMENT "Compiling the resources of ${image_name}"
    VERBATIM)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${image_name}ResourceImage.cpp)
  add_custom_command(OUTPUT ${source}
    COMMAND ${CMAKE_COMMAND} -DRES=${image_res} -DNAME=${image_name} -DSCRIPT=${script}
            -DOUT=${source} -P ${PROJECT_SOURCE_DIR}/cmake/ResourceImage.cmake
    DEPENDS ${image_res} ${PROJECT_SOURCE_DIR}/cmake/ResourceImage.cmake
    VERBATIM)
  target_sources(${target} PRIVATE ${source})
endfunction()
