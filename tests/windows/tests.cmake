# The message-loop tests build on the machine tests' program-context fixture.
target_sources(qob_windows_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../runtime/vm/vm_fixture_support.cpp)

# QOB.TestObject as an in-process server library (libqobtestcom.so). It links
# none of our libraries: the host that loads it exports the automation
# functions. Program tests find it through the library path.
add_library(qobtestcom MODULE ${CMAKE_CURRENT_LIST_DIR}/com_test_server.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/com_test_object_support.cpp)
target_include_directories(qobtestcom PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_LIST_DIR})
set_target_properties(qobtestcom PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/com_servers
                                            CXX_VISIBILITY_PRESET hidden)
target_link_options(qob_windows_tests PRIVATE -Wl,--dynamic-list=${CMAKE_SOURCE_DIR}/app/exports.list)
add_dependencies(qob_windows_tests qobtestcom)
target_compile_definitions(qob_windows_tests PRIVATE QOB_COM_SERVER_DIR="${CMAKE_BINARY_DIR}/tests/com_servers")
list(APPEND QOB_TEST_ENV "LD_LIBRARY_PATH=${CMAKE_BINARY_DIR}/tests/com_servers")
