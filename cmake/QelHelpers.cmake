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

# qel_install_library(TARGET COMPONENT): a shared library into lib/qel4410,
# finding its neighbours there.
function(qel_install_library target component)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/qel4410
          COMPONENT ${component})
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

# qel_add_man_page(TARGET NAME SUMMARY COMPONENT): NAME.1 from the program's
# --help text, built with it and installed under share/man/man1.
function(qel_add_man_page target name summary component)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${name}.1)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DNAME=${name}
            "-DSUMMARY=${summary}" -DVERSION=${PROJECT_VERSION} -DOUTPUT=${page}
            -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    COMMENT "Writing the man page of ${name}"
    VERBATIM)
  add_custom_target(${name}_man ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
