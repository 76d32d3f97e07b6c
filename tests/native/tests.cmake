# The assembler's fuzz entry: replayed over its corpus in every test run,
# and, in a clang build with QOB_FUZZ, a libFuzzer target for fuzzing:
#   cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
#         -DQOB_FUZZ=ON -DCMAKE_CXX_FLAGS="-fsanitize=address,fuzzer-no-link"
#   build/fuzz/tests/qob_asm_source_fuzzer tests/native/fuzz/corpus
option(QOB_FUZZ "Build the libFuzzer targets (clang only)" OFF)
set(asm_fuzz_dir ${CMAKE_CURRENT_LIST_DIR}/fuzz)
add_executable(qob_asm_source_fuzz_replay ${asm_fuzz_dir}/asm_source_fuzzer.cpp ${asm_fuzz_dir}/replay_main.cpp)
target_link_libraries(qob_asm_source_fuzz_replay PRIVATE qob_host)
add_test(NAME native/asm_source_fuzz_replay COMMAND qob_asm_source_fuzz_replay ${asm_fuzz_dir}/corpus)
set_tests_properties(native/asm_source_fuzz_replay PROPERTIES ENVIRONMENT "${QOB_TEST_ENV}")
if(QOB_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(qob_asm_source_fuzzer ${asm_fuzz_dir}/asm_source_fuzzer.cpp)
  target_link_libraries(qob_asm_source_fuzzer PRIVATE qob_host)
  target_link_options(qob_asm_source_fuzzer PRIVATE -fsanitize=fuzzer)
endif()
