# The message-loop tests build on the machine tests' program-context fixture.
target_sources(qob_windows_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../runtime/vm/vm_fixture_support.cpp)
