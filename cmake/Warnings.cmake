# Project-wide compile flags: warnings everywhere, -Werror where the preset asks.
add_compile_options(-Wall -Wextra -Wpedantic)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wshadow=local)
endif()
if(VEXO_WERROR)
  add_compile_options(-Werror)
endif()
if(VEXO_FUZZ)
  # coverage feedback from every library, not only the fuzz entry points
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
if(VEXO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Test helper: register a GoogleTest binary with CTest, labelled, with an
# optional ENVIRONMENT list for its tests.
function(vexo_add_gtest name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(T_PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  if(T_ENVIRONMENT)
    list(APPEND T_PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${name}
    PROPERTIES ${T_PROPERTIES}
    DISCOVERY_TIMEOUT 30)
endfunction()
