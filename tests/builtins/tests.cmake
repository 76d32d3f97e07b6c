# The operator tests build on the value tests' program-context fixture.
target_sources(qob_builtins_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../runtime/values/values_fixture_support.cpp)
