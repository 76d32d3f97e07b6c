# The host tests build on the machine tests' program-context fixture.
target_sources(qob_host_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../runtime/vm/vm_fixture_support.cpp)

# Developer program: prints how many registered names and opcodes still have a
# placeholder handler, and which (run build/<dir>/tests/qob_placeholders).
add_executable(qob_placeholders ${CMAKE_CURRENT_LIST_DIR}/tools/placeholder_report.cpp)
target_link_libraries(qob_placeholders PRIVATE qob_host)
