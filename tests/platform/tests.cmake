# The drawing layer's text and PNG tests compare with FreeType and libpng
# called directly.
if(TARGET qob_platform_tests)
  find_package(Freetype REQUIRED)
  find_package(PNG REQUIRED)
  target_link_libraries(qob_platform_tests PRIVATE Freetype::Freetype PNG::PNG)
endif()
