# Stand-ins for the optional outside libraries the system loads at run time,
# built as loadable modules; the tests that load them get their paths.
add_library(qob_test_gsgetfile MODULE ${CMAKE_CURRENT_LIST_DIR}/gsgetfile_stand_in.cpp)
target_include_directories(qob_test_gsgetfile PRIVATE ${CMAKE_SOURCE_DIR})
foreach(tests IN ITEMS qob_platform_tests qob_runtime_tests)
  if(TARGET ${tests})
    add_dependencies(${tests} qob_test_gsgetfile)
    target_compile_definitions(${tests} PRIVATE
      QOB_TEST_GSGETFILE="$<TARGET_FILE:qob_test_gsgetfile>")
  endif()
endforeach()
