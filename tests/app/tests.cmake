# The tests of tests/app run the real qob executable.
if(TARGET qob_app_tests AND TARGET qob)
  add_dependencies(qob_app_tests qob)
  target_compile_definitions(qob_app_tests PRIVATE QOB_EXECUTABLE="$<TARGET_FILE:qob>")
endif()
