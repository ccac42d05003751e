# Shared build helpers: warnings, sanitizers, one library per source folder,
# one test executable per test folder.

set(TARPELIX_WARNINGS -Wall -Wextra -Wpedantic -Werror)
# GCC 12 reports a false -Wrestrict inside std::string's inlined concatenation at -O2 and
# above (GCC bug 105651, in libstdc++'s own code, not ours), which -Werror turns into a
# failed Release build. Silenced for that compiler only.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND TARPELIX_WARNINGS -Wno-restrict)
endif()

if(TARPELIX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TARPELIX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(TARPELIX_SANITIZE STREQUAL "fuzzer")
  # Coverage-guided fuzzing with libFuzzer (clang only): instrument everything, link the
  # fuzzing engine only into the fuzz targets. Undefined behaviour ends the run at its first
  # report, as in the address build: libFuzzer then keeps the input that caused it.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT TARPELIX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TARPELIX_SANITIZE must be empty, address or thread")
endif()

# tarpelix_library(<name> [DEPENDS <targets>...])
# Builds every .cpp of the calling folder into the static library tarpelix_<name>.
# Include paths are rooted at src/, so headers are included as "area/Type.h".
function(tarpelix_library name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    # A folder of headers only is still one library to depend on.
    add_library(tarpelix_${name} INTERFACE)
    target_include_directories(tarpelix_${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(tarpelix_${name} INTERFACE ${ARG_DEPENDS})
    return()
  endif()
  add_library(tarpelix_${name} STATIC ${sources})
  target_include_directories(tarpelix_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(tarpelix_${name} PRIVATE ${TARPELIX_WARNINGS})
  target_compile_definitions(tarpelix_${name} PUBLIC
    TARPELIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TARPELIX_VERSION="${PROJECT_VERSION}")
  target_link_libraries(tarpelix_${name} PUBLIC ${ARG_DEPENDS})
endfunction()

# tarpelix_test(<name> LABELS <labels>... [DEPENDS <targets>...] [CONCURRENCY])
# Builds every .cpp of the calling folder into test_<name>, registers each GoogleTest
# case with CTest under the given labels. CONCURRENCY adds the label "concurrency":
# those tests also run under ThreadSanitizer.
set_property(GLOBAL PROPERTY TARPELIX_CONCURRENCY_TESTS "")
function(tarpelix_test name)
  cmake_parse_arguments(ARG "CONCURRENCY" "TIMEOUT" "LABELS;DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_compile_options(test_${name} PRIVATE ${TARPELIX_WARNINGS})
  target_include_directories(test_${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(test_${name} PRIVATE ${ARG_DEPENDS} tarpelix_test_support
                        GTest::gmock GTest::gtest)
  set(labels ${ARG_LABELS})
  if(ARG_CONCURRENCY)
    list(APPEND labels concurrency)
    set_property(GLOBAL APPEND PROPERTY TARPELIX_CONCURRENCY_TESTS test_${name})
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  gtest_discover_tests(test_${name}
    DISCOVERY_MODE PRE_TEST
    TEST_LIST test_${name}_TESTS
    NO_PRETTY_VALUES
    PROPERTIES TIMEOUT ${ARG_TIMEOUT}
    EXTRA_ARGS --gtest_death_test_style=threadsafe)
  # Labels are set after discovery: GoogleTest's script cannot pass a list of them.
  set(label_file ${CMAKE_CURRENT_BINARY_DIR}/test_${name}_labels.cmake)
  file(WRITE ${label_file}
       "foreach(t IN LISTS test_${name}_TESTS)\n"
       "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${labels}\")\n"
       "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_file})
endfunction()

# tarpelix_fuzzer(<name> DEPENDS <targets>...)
# Builds tests/fuzz/<name>.cpp into the libFuzzer target fuzz_<name>; only in a fuzzer build.
set_property(GLOBAL PROPERTY TARPELIX_FUZZERS "")
function(tarpelix_fuzzer name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  if(NOT TARPELIX_SANITIZE STREQUAL "fuzzer")
    return()
  endif()
  add_executable(fuzz_${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  target_compile_options(fuzz_${name} PRIVATE ${TARPELIX_WARNINGS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_DEPENDS})
  set_property(GLOBAL APPEND PROPERTY TARPELIX_FUZZERS fuzz_${name})
endfunction()
