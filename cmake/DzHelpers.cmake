# Shared build settings and the two helpers every subsystem uses.

add_library(dz_options INTERFACE)
target_compile_options(dz_options INTERFACE -Wall -Wextra -Wpedantic)
if(DZ_WARNINGS_AS_ERRORS)
  target_compile_options(dz_options INTERFACE -Werror)
endif()
if(DZ_SANITIZE STREQUAL "address")
  target_compile_options(dz_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(dz_options INTERFACE -fsanitize=address,undefined)
elseif(DZ_SANITIZE STREQUAL "thread")
  target_compile_options(dz_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(dz_options INTERFACE -fsanitize=thread)
elseif(NOT DZ_SANITIZE STREQUAL "")
  message(FATAL_ERROR "DZ_SANITIZE must be empty, address or thread, not '${DZ_SANITIZE}'")
endif()

# dz_add_library(<name> SOURCES ... [DEPS ...])
# One static library per subsystem. DEPS lists the subsystems it builds on; only
# those are linked, so a call against the direction of the layers fails to link
# and an include of a header from an unlisted subsystem is caught in review.
function(dz_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE dz_options)
endfunction()

# dz_add_test(<name> LABEL <label> SOURCES ... [DEPS ...] [TIMEOUT s])
# One GoogleTest executable; every test in it carries the subsystem's label.
function(dz_add_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} dz_options GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
