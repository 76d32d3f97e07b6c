# The message-loop tests build on the machine tests' program-context fixture.
target_sources(qob_windows_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../runtime/vm/vm_fixture_support.cpp)

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
