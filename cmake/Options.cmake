# All build options of the project, in one place.
option(QV_BUILD_TESTS "Build the unit and end-to-end tests" ON)
option(QV_BUILD_BENCH "Build the benchmarks" ON)
option(QV_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
option(QV_WERROR "Treat warnings as errors" OFF)
set(QV_SANITIZE "" CACHE STRING "Sanitizers to build with: '', 'address,undefined' or 'thread'")
# The test programs are most of the build; CI compiles them with -O0 (the code under test keeps
# the build's own optimisation).
set(QV_TEST_COMPILE_OPTIONS "" CACHE STRING "Extra compile options of the test programs")
option(QV_PCH "Parse GoogleTest and Qt's widget headers once per program (precompiled headers)" ON)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()

find_program(QV_CCACHE ccache)
if(QV_CCACHE)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${QV_CCACHE})
endif()

add_compile_options(-Wall -Wextra -Wpedantic)
if(QV_WERROR)
  add_compile_options(-Werror)
endif()

if(QV_FUZZ)
  # Every object of a fuzz build carries coverage so the fuzzer sees into the core libraries.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(QV_SANITIZE)
  add_compile_options(-fsanitize=${QV_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QV_SANITIZE})
endif()

find_package(Threads REQUIRED)

# The Qt windows and the qvconfig program (qt6-base-dev). Off: only the Qt-free core, qvcli and
# qvsim are built.
option(QV_BUILD_UI "Build the Qt windows and qvconfig" ON)
if(QV_BUILD_UI)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets Test PrintSupport)
  # The telemetry plots' chart (libqcustomplot-dev).
  find_package(QCustomPlotQt6 REQUIRED)
endif()
