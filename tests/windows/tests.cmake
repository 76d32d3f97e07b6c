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
# The test controls as such a library (libqobtestctl.so), for the program tests.
add_library(qobtestctl MODULE ${CMAKE_CURRENT_LIST_DIR}/activex_test_control_server.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/activex_test_control_support.cpp)
target_include_directories(qobtestctl PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_LIST_DIR})
set_target_properties(qobtestctl PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/com_servers
                                            CXX_VISIBILITY_PRESET hidden)
target_link_options(qob_windows_tests PRIVATE -Wl,--dynamic-list=${CMAKE_SOURCE_DIR}/app/exports.list)
add_dependencies(qob_windows_tests qobtestcom qobtestctl)
target_compile_definitions(qob_windows_tests PRIVATE QOB_COM_SERVER_DIR="${CMAKE_BINARY_DIR}/tests/com_servers")
list(APPEND QOB_TEST_ENV "LD_LIBRARY_PATH=${CMAKE_BINARY_DIR}/tests/com_servers")

# The screen window on an X server of its own (Xvfb), screenshot and click
# from outside; needs xvfb, x11-apps, xdotool and imagemagick (scripts/install-deps).
if(TARGET qob)
  add_test(NAME windows/screen_window
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/screen_window_test.sh $<TARGET_FILE:qob>
            ${CMAKE_CURRENT_BINARY_DIR}/screen_window)
  # SDL loads the desktop's libraries (D-Bus among them), whose allocations
  # kept until exit cannot be told from leaks with the stacks they leave: leak
  # checking is off for this one run (every other test of qob keeps it).
  set_tests_properties(windows/screen_window PROPERTIES TIMEOUT 120 ENVIRONMENT
    "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:allow_user_segv_handler=1:detect_leaks=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
