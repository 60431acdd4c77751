# tessivo_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS gui] [ENV K=V ...])
# One GoogleTest binary; every test case becomes a CTest test.
function(tessivo_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  set(props ENVIRONMENT "TESSIVO_BUILD_DIR=${CMAKE_BINARY_DIR};${T_ENV}")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()

# tessivo_embed_text(TARGET SYMBOL FILE)
# Compiles FILE into TARGET as `extern const char SYMBOL[]` (NUL-terminated),
# regenerated whenever FILE changes. The Python scripts live as real .py files.
function(tessivo_embed_text target symbol file)
  get_filename_component(abs ${file} ABSOLUTE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded_${symbol}.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${abs} -DOUTPUT=${out} -DSYMBOL=${symbol}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedText.cmake
    DEPENDS ${abs} ${CMAKE_SOURCE_DIR}/cmake/EmbedText.cmake
    COMMENT "Embedding ${file}")
  target_sources(${target} PRIVATE ${out})
endfunction()
