# Helpers shared by every folder's CMakeLists.

# tevrak_add_library(name SOURCES ... LIBS ...): one static library per src/ folder.
function(tevrak_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# tevrak_add_gtest(name SOURCES ... LIBS ... [QT]): a GoogleTest program whose
# cases CTest discovers one by one. QT links the Qt test main (offscreen
# QApplication, private TEVRAK_ROOT and XDG folders); otherwise the plain main.
function(tevrak_add_gtest name)
  cmake_parse_arguments(ARG "QT" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_QT)
    target_link_libraries(${name} PRIVATE tevrak_qt_test_main)
  else()
    target_link_libraries(${name} PRIVATE tevrak_test_main)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} tevrak_test_support GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE TEVRAK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TEVRAK_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# tevrak_add_fuzz(name SOURCE file CORPUS dir LIBS ...): a fuzz entry point
# (LLVMFuzzerTestOneInput). Its seed corpus always runs as an ordinary test;
# with TEVRAK_FUZZ=ON (clang) a libFuzzer program <name> is built as well.
function(tevrak_add_fuzz name)
  cmake_parse_arguments(ARG "" "SOURCE;CORPUS" "LIBS" ${ARGN})
  if(TEVRAK_TESTS)
    add_executable(${name}_seeds ${ARG_SOURCE})
    target_link_libraries(${name}_seeds PRIVATE ${ARG_LIBS} tevrak_fuzz_seed_main)
    add_test(NAME ${name}.seeds COMMAND ${name}_seeds ${ARG_CORPUS})
    set_tests_properties(${name}.seeds PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
  if(TEVRAK_FUZZ)
    add_executable(${name} ${ARG_SOURCE})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  endif()
endfunction()

# tevrak_add_bench(name SOURCES ... LIBS ...): a Google Benchmark program (not run by CI).
function(tevrak_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()
