# tarvik_add_tests(DIR LIBS...)
#
# Every DIR/*_test.cpp becomes one test executable in build/tests, linked with LIBS, GoogleTest/Mock,
# the shared test main and the shared helpers of testing/ (tarvik_testing). DIR/support/*.cpp, if
# any, holds what only DIR's tests need; it is built once into a helper library that every test of
# DIR links. A file named *_thread_test.cpp is labelled "<component>-thread", which
# "ctest -L thread" selects: the ThreadSanitizer build runs exactly those.
function(tarvik_add_tests dir)
  get_filename_component(component ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(libs ${ARGN})
  file(GLOB support_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/support/*.cpp)
  if(support_sources)
    set(support_target ${component}_test_support)
    add_library(${support_target} STATIC ${support_sources})
    target_link_libraries(${support_target} PUBLIC ${libs} GTest::gmock tarvik_testing)
    list(APPEND libs ${support_target})
  endif()
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp)
  foreach(src ${test_sources})
    get_filename_component(name ${src} NAME_WE)
    set(target ${component}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${libs} tarvik_testing tarvik_test_main GTest::gmock)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    # One label per test: a list would reach the discovered tests' properties split into extra
    # words, losing "thread" and the time-out. "-L thread" and "-L <component>" are regular
    # expressions, so "<component>-thread" answers both.
    set(labels ${component})
    if(name MATCHES "_thread_test$")
      set(labels ${component}-thread)
    endif()
    gtest_discover_tests(${target}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      TEST_PREFIX "${component}."
      PROPERTIES LABELS "${labels}" TIMEOUT 600)
  endforeach()
endfunction()

# tarvik_glob_sources(VAR DIR) sets VAR to every .cpp below DIR. While a component has no sources
# yet, VAR holds one generated empty file so that the target (and the targets that link it) still
# configure.
function(tarvik_glob_sources var dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    get_filename_component(name ${dir} NAME)
    set(empty ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${empty} "// This component has no sources yet.\n")
    set(sources ${empty})
  endif()
  set(${var} ${sources} PARENT_SCOPE)
endfunction()

# Fuzz build: -DTARVIK_FUZZ=ON with CC=clang CXX=clang++. All code gets AddressSanitizer,
# UndefinedBehaviorSanitizer and the fuzzer's coverage instrumentation; the fuzz targets of each
# component's fuzz/ directory are built and their seed corpora run as ctest regressions (label
# "fuzz").
option(TARVIK_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(TARVIK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TARVIK_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  if(NOT TARVIK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
    # Code that leaves out linker checks for sanitized builds tests this variable.
    set(TARVIK_SANITIZE address,undefined)
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# tarvik_add_fuzzer(NAME <target> SOURCES <files...> LIBS <libs...> CORPUS <dir>
#                   [LINK_OPTIONS <options...>])
#
# Builds build/fuzz/<target> with the libFuzzer main and registers a ctest "fuzz.<target>" that
# runs it once over every file of the corpus directory, so that inputs that once crashed it stay
# tested. Does nothing unless TARVIK_FUZZ is on. Targets share the header-only helpers of
# testing/fuzz.h; LIBS tarvik_fake_device puts a byte-stream module under the channels.
function(tarvik_add_fuzzer)
  if(NOT TARVIK_FUZZ)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 0 FZ "" "NAME;CORPUS" "SOURCES;LIBS;LINK_OPTIONS")
  if(NOT FZ_NAME OR NOT FZ_SOURCES OR NOT FZ_CORPUS)
    message(FATAL_ERROR "tarvik_add_fuzzer needs NAME, SOURCES and CORPUS")
  endif()
  add_executable(${FZ_NAME} ${FZ_SOURCES})
  target_link_libraries(${FZ_NAME} PRIVATE ${FZ_LIBS})
  target_link_options(${FZ_NAME} PRIVATE -fsanitize=fuzzer ${FZ_LINK_OPTIONS})
  set_target_properties(${FZ_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  get_filename_component(corpus ${FZ_CORPUS} ABSOLUTE)
  # -runs=0 runs the corpus files once each and stops; a crash fails the test.
  add_test(NAME fuzz.${FZ_NAME} COMMAND ${FZ_NAME} -runs=0 ${corpus})
  set_tests_properties(fuzz.${FZ_NAME} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()
