# qel_add_test(NAME SOURCES ... [LIBS ...] [LABELS ...])
# One GoogleTest executable; its tests are registered one by one with CTest.
function(qel_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin DISCOVERY_TIMEOUT 60)
  # Labels are set on the discovered tests afterwards: passed through
  # gtest_discover_tests' PROPERTIES, a second label is read as a property name.
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${labels_file}
       "if(${name}_TESTS)\n"
       "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
endfunction()

# qel_add_benchmark(NAME SOURCES ... [LIBS ...])
function(qel_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
endfunction()

# qel_add_fuzzer(NAME SOURCES ... [LIBS ...]); corpus in fuzz/corpus/NAME
function(qel_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set_property(GLOBAL APPEND PROPERTY QEL_FUZZERS ${name})
endfunction()
