# The include check reads the source tree itself: it links no layer, so it
# builds and runs even when a layer does not link.
add_executable(qob_layers_tests ${CMAKE_CURRENT_LIST_DIR}/include_layers_test.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/include_layers_support.cpp)
target_link_libraries(qob_layers_tests PRIVATE GTest::gtest GTest::gtest_main)
target_compile_definitions(qob_layers_tests PRIVATE QOB_SOURCE_ROOT="${CMAKE_SOURCE_DIR}")
gtest_discover_tests(qob_layers_tests DISCOVERY_MODE PRE_TEST PROPERTIES ENVIRONMENT "${QOB_TEST_ENV}")
