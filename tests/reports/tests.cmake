# The shut-down reports: a program run with the profiling ("P") and memory
# tracking ("Y") switches leaves "profile.txt" and "memory.txt" with the rows
# its run made; without them it leaves neither.
if(TARGET qob)
  add_test(NAME reports/profile_and_memory
    COMMAND ${CMAKE_COMMAND} -DQOB=$<TARGET_FILE:qob> -DSOURCE=${CMAKE_CURRENT_LIST_DIR}
            -DWORK=${CMAKE_CURRENT_BINARY_DIR}/reports -P ${CMAKE_CURRENT_LIST_DIR}/check_reports.cmake)
  set_tests_properties(reports/profile_and_memory PROPERTIES ENVIRONMENT "${QOB_TEST_ENV}")
endif()
