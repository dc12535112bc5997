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

# dz_add_test(<name> LABEL <label>... SOURCES ... [DEPS ...] [TIMEOUT s]
#             [LARGE <gtest filter>] [SERIAL <gtest filter>])
# One GoogleTest executable; every test in it carries the subsystem's label
# and any further label given ("large" for the runs that take minutes). The
# tests that LARGE selects get the label "large" and 15 minutes instead. The
# tests that SERIAL selects run while no other test runs (they change a
# setting of the whole machine for a moment, such as an inotify limit).
function(dz_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT;LARGE;SERIAL" "LABEL;SOURCES;DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} dz_options GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # The generated script that gives discovered tests their properties cannot
  # carry a list, so the subsystem's label goes on the directory (ctest adds
  # it to every test there) and at most one further label on the tests.
  list(POP_FRONT ARG_LABEL subsystem)
  set_property(DIRECTORY APPEND PROPERTY LABELS ${subsystem})
  list(LENGTH ARG_LABEL extra_count)
  if(extra_count GREATER 1)
    message(FATAL_ERROR "dz_add_test(${name}): at most one label besides the subsystem's")
  endif()
  set(extra_labels "")
  if(extra_count EQUAL 1)
    set(extra_labels LABELS ${ARG_LABEL})
  endif()
  # The ordinary tests are those no other group selects.
  set(others "")
  foreach(group IN ITEMS ${ARG_LARGE} ${ARG_SERIAL})
    if(others STREQUAL "")
      set(others "-${group}")
    else()
      set(others "${others}:${group}")
    endif()
  endforeach()
  if(others STREQUAL "")
    set(others "*")
  endif()
  gtest_discover_tests(${name}
    TEST_FILTER "${others}"
    PROPERTIES ${extra_labels} TIMEOUT ${ARG_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
  if(ARG_LARGE)
    gtest_discover_tests(${name}
      TEST_FILTER "${ARG_LARGE}"
      PROPERTIES LABELS large TIMEOUT 900
      DISCOVERY_TIMEOUT 60)
  endif()
  if(ARG_SERIAL)
    gtest_discover_tests(${name}
      TEST_FILTER "${ARG_SERIAL}"
      PROPERTIES ${extra_labels} TIMEOUT ${ARG_TIMEOUT} RUN_SERIAL TRUE
      DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
