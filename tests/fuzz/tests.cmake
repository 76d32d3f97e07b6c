# The fuzz targets' corpora replayed in the test build: each
# tests/fuzz/<name>_fuzz.cpp is linked with a small driver that runs its entry
# point once over every file of tests/fuzz/corpus/<name>/. The fuzzing itself
# needs clang's libFuzzer and is not part of the tests.
file(GLOB fuzz_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_fuzz.cpp)
foreach(source IN LISTS fuzz_sources)
  get_filename_component(file_name ${source} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" target_name ${file_name})
  add_executable(qob_${target_name}_fuzz_replay ${source} ${CMAKE_CURRENT_LIST_DIR}/fuzz_replay_main.cpp)
  target_link_libraries(qob_${target_name}_fuzz_replay PRIVATE qob_host)
  add_test(NAME fuzz/${target_name}
           COMMAND qob_${target_name}_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/${target_name})
  set_tests_properties(fuzz/${target_name} PROPERTIES ENVIRONMENT "${QOB_TEST_ENV}")
endforeach()
