# The staged install tree: every build lays out ${TRIPWIRE_STAGE_DIR} exactly as `cmake --install`
# lays out the tripwire root below the prefix (TripwireInstall.cmake), so programs and tests run
# from it directly. All run paths are relative ($ORIGIN), so the tree can be moved as a whole.
set(TRIPWIRE_STAGE_DIR "${PROJECT_BINARY_DIR}/stage" CACHE INTERNAL "")

# Relative run path from a staged folder to <stage>/lib.
function(tripwire_rpath_to_lib out_var reldir)
  file(RELATIVE_PATH rel "${TRIPWIRE_STAGE_DIR}/${reldir}"
       "${TRIPWIRE_STAGE_DIR}/${TRIPWIRE_LAYOUT_LIBRARY_DIR}")
  if(rel STREQUAL "")
    set(${out_var} "$ORIGIN" PARENT_SCOPE)
  else()
    set(${out_var} "$ORIGIN/${rel}" PARENT_SCOPE)
  endif()
endfunction()

# Place a built target at <stage>/<reldir>; TripwireInstall.cmake installs it to <root>/<reldir>.
function(tripwire_stage target reldir)
  tripwire_rpath_to_lib(rpath "${reldir}")
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY "${TRIPWIRE_STAGE_DIR}/${reldir}"
    RUNTIME_OUTPUT_DIRECTORY "${TRIPWIRE_STAGE_DIR}/${reldir}"
    ARCHIVE_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/archive"
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "${rpath}")
  set_property(GLOBAL APPEND PROPERTY TRIPWIRE_STAGED_TARGETS "${target}")
  set_property(TARGET ${target} PROPERTY TRIPWIRE_STAGE_RELDIR "${reldir}")
endfunction()

# A shared library of the framework or the platform layer, staged in <stage>/lib. Versioned, so
# that a host built against one release never loads another's by accident.
function(tripwire_add_shared_library target)
  add_library(${target} SHARED ${ARGN})
  set_target_properties(${target} PROPERTIES
    VERSION "${PROJECT_VERSION}" SOVERSION "${PROJECT_VERSION_MAJOR}")
  tripwire_stage(${target} ${TRIPWIRE_LAYOUT_LIBRARY_DIR})
endfunction()

# A program of the install tree, staged in <stage>/bin.
function(tripwire_add_program target)
  add_executable(${target} ${ARGN})
  tripwire_stage(${target} ${TRIPWIRE_LAYOUT_PROGRAM_DIR})
endfunction()

# A GoogleTest executable, discovered by CTest when the tests run (not at build time).
#   tripwire_add_test(name SOURCES a.cpp ... LIBRARIES x y LABELS unit)
function(tripwire_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBRARIES} GTest::gtest GTest::gmock GTest::gtest_main)
  # The header-only helpers of tests/support (temporary directories, scoped variables) serve every test.
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/tests/support/include")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # One label per test program: gtest_discover_tests (CMake 3.25) splits list-valued properties.
  list(LENGTH T_LABELS label_count)
  if(label_count GREATER 1)
    message(FATAL_ERROR "tripwire_add_test(${name}): give one label, not ${T_LABELS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
               ENVIRONMENT "TRIPWIRE_STAGE_DIR=${TRIPWIRE_STAGE_DIR}")
endfunction()
