# qv_core_library(<name> <folder> DEPS <libraries...>): one library per subsystem folder, made of
# every .cpp in it. A folder without sources yet gives an interface library, so that dependants
# can link to it before its first file lands.
function(qv_core_library name folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC qv_common Threads::Threads ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE qv_common Threads::Threads ${ARG_DEPS})
  endif()
endfunction()
