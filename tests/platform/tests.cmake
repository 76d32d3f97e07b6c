# The drawing layer's text and PNG tests compare with FreeType and libpng
# called directly.
if(TARGET qob_platform_tests)
  find_package(Freetype REQUIRED)
  find_package(PNG REQUIRED)
  target_link_libraries(qob_platform_tests PRIVATE Freetype::Freetype PNG::PNG)
endif()
# The screen window's key table is checked against SDL's own key codes
# (headers only, as the platform layer uses them).
if(TARGET qob_platform_tests)
  find_package(SDL2 CONFIG QUIET)
  if(TARGET SDL2::SDL2)
    target_include_directories(qob_platform_tests PRIVATE $<TARGET_PROPERTY:SDL2::SDL2,INTERFACE_INCLUDE_DIRECTORIES>)
    target_compile_definitions(qob_platform_tests PRIVATE QOB_WITH_SDL2)
  endif()
endif()
