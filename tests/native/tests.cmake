# The library the native-call tests declare functions of ("qobcalls.dll" as
# a program names it, "libqobcalls.so" on the host), and the value fixture
# of the runtime tests that they share.
add_library(qob_native_call_library SHARED ${CMAKE_CURRENT_LIST_DIR}/call_library/call_library.cpp)
set_target_properties(qob_native_call_library PROPERTIES
  OUTPUT_NAME qobcalls
  POSITION_INDEPENDENT_CODE ON
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
# No sanitizer in a library that faults on purpose and is called through
# pointers of every arity.
target_compile_options(qob_native_call_library PRIVATE -fno-sanitize=all)
if(TARGET qob_native_tests)
  add_dependencies(qob_native_tests qob_native_call_library)
  target_sources(qob_native_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../runtime/values/values_fixture_support.cpp)
  target_compile_definitions(qob_native_tests PRIVATE
    QOB_NATIVE_CALL_LIBRARY_DIR="$<TARGET_FILE_DIR:qob_native_call_library>/")
endif()
