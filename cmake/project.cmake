# The build settings the project's programs share, whether deskhand is built
# inside the whole project or on its own: the language standard, one warnings
# setup applied to every target, and one way to list a folder's sources.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type" FORCE)
endif()

# Programs land in <build>/bin wherever the build directory is.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

option(TRACELENS_PCH "Precompile the heavy library headers once per target" ON)
option(TRACELENS_WERROR "Treat warnings as errors (the test command's builds do)" OFF)

# Every target of the project, tests and tools included, compiles with these.
add_compile_options(-Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Wpedantic -Wold-style-cast)
if(TRACELENS_WERROR)
  add_compile_options(-Werror)
endif()

# The C++ sources below `dir` (all folders) in a stable order: the program's
# code without its unit tests (`*_test.cpp`) and its entry (`main.cpp`), or
# with TESTS the unit tests alone.
function(project_sources out dir)
  cmake_parse_arguments(arg "TESTS" "" "" ${ARGN})
  file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(arg_TESTS)
    list(FILTER found INCLUDE REGEX "_test\\.cpp$")
  else()
    list(FILTER found EXCLUDE REGEX "(_test|/main)\\.cpp$")
  endif()
  list(SORT found)
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Nearly every source parses simdjson's and nlohmann's headers, and every test
# GoogleTest's: precompiling them once per target instead of once per file
# more than halves the build.
function(tracelens_precompile target)
  if(TRACELENS_PCH)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()
# Unit-test sources are compiled without optimisation: the tests run in well
# under a second either way, the code they test keeps the build's
# optimisation, and optimising the test bodies took most of the build's time.
function(tracelens_test_sources target)
  target_compile_options(${target} PRIVATE -O0)
endfunction()
