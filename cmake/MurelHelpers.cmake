# Warnings for our own code only; third-party code is compiled separately.
add_library(murel_warnings INTERFACE)
# (-Wshadow=local is GCC's; clang's nearest is -Wshadow-uncaptured-local.)
target_compile_options(murel_warnings INTERFACE
  -Wall -Wextra -Wpedantic $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local> -Wnon-virtual-dtor -Wcast-align
  -Wunused -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough
  $<$<CXX_COMPILER_ID:Clang>:-Wshadow-uncaptured-local>)
# CI turns warnings of our own code into errors; third-party code never sees these flags.
# The instrumented builds are not the warning gate: sanitizers make GCC guess
# (-Wmaybe-uninitialized) where the plain build is clean.
option(MUREL_WERROR "Treat warnings in our own code as errors" OFF)
if(MUREL_WERROR AND NOT MUREL_SANITIZE AND NOT MUREL_FUZZ)
  target_compile_options(murel_warnings INTERFACE -Werror)
endif()

# Each source folder collects its own files, so parallel work on different
# folders never edits the same list.
function(murel_collect_sources out dir)
  file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS
    ${dir}/*.cpp ${dir}/*.c ${dir}/*.h ${dir}/*.hpp)
  set(${out} ${_srcs} PARENT_SCOPE)
endfunction()

# murel_automoc_only_if_needed(<target> <sources...>): AUTOMOC stays on only
# when a source (or the header beside a .cpp) declares a meta-object or
# includes a .moc file. Each test and benchmark is its own executable, and an
# AUTOMOC pass and its (empty) compilation unit for each cost minutes per build.
function(murel_automoc_only_if_needed target)
  foreach(source IN LISTS ARGN)
    get_filename_component(path "${source}" ABSOLUTE)
    get_filename_component(stem "${path}" NAME_WLE)
    get_filename_component(dir "${path}" DIRECTORY)
    foreach(file IN ITEMS "${path}" "${dir}/${stem}.h")
      if(EXISTS "${file}")
        file(STRINGS "${file}" meta REGEX "Q_OBJECT|Q_GADGET|Q_NAMESPACE|#include +\".*\\.moc\"")
        if(meta)
          return()
        endif()
      endif()
    endforeach()
  endforeach()
  set_target_properties(${target} PROPERTIES AUTOMOC OFF)
endfunction()

# murel_add_test(NAME <name> SOURCES <files...> [LIBS <libs...>] [LABELS <labels...>])
# Labels tell which part of the rig a test needs: display, audio, bus (or unit).
function(murel_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  murel_automoc_only_if_needed(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE murel_test_support ${T_LIBS} GTest::gtest GTest::gmock)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  # The rig has one X server: a window one test maps can take the click or the
  # focus another is making, so display tests run one at a time (a test that
  # sets its own locks lists x11_display too).
  if("display" IN_LIST T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK x11_display)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "MUREL_RESOURCE_DIR=${MUREL_RESOURCE_BUILD_DIR};MUREL_BUILD_DIR=${CMAKE_BINARY_DIR};MUREL_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
