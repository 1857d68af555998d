# The plain reference renderer and the picture makers, shared by the tests
# here and by the benchmark (which may be built without the tests).
if(NOT TARGET rovanta_render_reference)
  find_package(JPEG REQUIRED)
  add_library(rovanta_render_reference STATIC
    ${CMAKE_CURRENT_LIST_DIR}/reference_renderer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_pictures.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../foundation/jpeg_fixtures.cpp)
  target_include_directories(rovanta_render_reference PUBLIC ${CMAKE_CURRENT_LIST_DIR}
    ${CMAKE_CURRENT_LIST_DIR}/../foundation)
  target_link_libraries(rovanta_render_reference PUBLIC rovanta_render JPEG::JPEG)
  # Bit-identical frames need the same rounding as the saver's renderer.
  target_compile_options(rovanta_render_reference PRIVATE -ffp-contract=off)
endif()
