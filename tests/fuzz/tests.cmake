# Fuzz targets, one per input that comes from outside: each
# tests/fuzz/<target>_fuzz.cpp (adding one needs no edit here). In a build
# with QOB_FUZZ (clang, see scripts/fuzz) each is a libFuzzer program
# qob_fuzz_<target>; in every other build each is a replay program that the
# tests run over the target's corpus and its saved findings.
set(QOB_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
file(GLOB QOB_FUZZ_SOURCES CONFIGURE_DEPENDS ${QOB_FUZZ_DIR}/*_fuzz.cpp)
foreach(source IN LISTS QOB_FUZZ_SOURCES)
  get_filename_component(target ${source} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" target ${target})
  set(sources ${QOB_FUZZ_DIR}/${target}_fuzz.cpp ${QOB_FUZZ_DIR}/fuzz_support.cpp)
  if(QOB_FUZZ)
    set(program qob_fuzz_${target})
    add_executable(${program} ${sources})
    target_link_options(${program} PRIVATE -fsanitize=fuzzer)
  else()
    set(program qob_fuzz_${target}_replay)
    add_executable(${program} ${sources} ${QOB_FUZZ_DIR}/replay_main.cpp)
    set(inputs ${QOB_FUZZ_DIR}/corpus/${target})
    if(EXISTS ${QOB_FUZZ_DIR}/findings/${target})
      list(APPEND inputs ${QOB_FUZZ_DIR}/findings/${target})
    endif()
    add_test(NAME fuzz/${target} COMMAND ${program} ${inputs})
    set_tests_properties(fuzz/${target} PROPERTIES ENVIRONMENT "${QOB_TEST_ENV}")
  endif()
  target_link_libraries(${program} PRIVATE qob_host)
  target_include_directories(${program} PRIVATE ${QOB_FUZZ_DIR})
  target_compile_definitions(${program} PRIVATE QOB_FUZZ_INCLUDE_DIR="${QOB_FUZZ_DIR}/include/")
endforeach()
