# Frames of the desktop device and of a simulated XScale panel and MediaQ
# chip in the SDL2 screen window on an X server of the test's own (Xvfb), captured from
# outside; needs xvfb, x11-apps and imagemagick (scripts/install-deps).
add_executable(qob_present_window ${CMAKE_CURRENT_LIST_DIR}/screen/present_window_main.cpp)
target_link_libraries(qob_present_window PRIVATE qob_host)
target_include_directories(qob_present_window PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
add_test(NAME display/present_window
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/screen/present_window_test.sh $<TARGET_FILE:qob_present_window>
          ${CMAKE_CURRENT_BINARY_DIR}/present_window)
# SDL loads the desktop's libraries, whose allocations kept until exit cannot
# be told from leaks: leak checking is off for this run, as for the
# windows layer's screen window test.
set_tests_properties(display/present_window PROPERTIES TIMEOUT 120 ENVIRONMENT
  "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:allow_user_segv_handler=1:detect_leaks=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
