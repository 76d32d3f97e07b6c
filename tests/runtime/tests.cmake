# A shared library for the tests of declared native functions. It is built
# beside the test executable (the application directory of the tests) under
# its host name "libqobsample.so"; tests name it "qobsample.dll" as a program would.
add_library(qob_native_sample SHARED ${CMAKE_CURRENT_LIST_DIR}/registry/native_sample/sample_library.cpp)
set_target_properties(qob_native_sample PROPERTIES
  OUTPUT_NAME qobsample
  POSITION_INDEPENDENT_CODE ON
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
if(TARGET qob_runtime_tests)
  add_dependencies(qob_runtime_tests qob_native_sample)
  target_compile_definitions(qob_runtime_tests PRIVATE
    QOB_NATIVE_SAMPLE_DIR="$<TARGET_FILE_DIR:qob_native_sample>/")
endif()

# The value tests once more with the leak checker on (the default test
# environment turns it off): every value must be freed exactly once.
if(TARGET qob_runtime_tests)
  add_test(NAME runtime/values_without_leaks
    COMMAND qob_runtime_tests "--gtest_filter=ListValues*:MatrixValues*:TypedFields*:VariableStore*:Objects*:ValueCopies*:Assignment*:Declarations*")
  set_tests_properties(runtime/values_without_leaks PROPERTIES ENVIRONMENT
    "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:allow_user_segv_handler=1:detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
