# Windowed input tests: SendInputSink against a probe window. They need a
# display, so they live in their own program (Xvfb under Wine).
if(WIN32)
  file(GLOB KORVEX_INPUT_GUI_TEST_SOURCES CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/win32/gui/*.cpp")
  add_executable(korvex_win32_gui_tests ${KORVEX_INPUT_GUI_TEST_SOURCES})
  target_include_directories(korvex_win32_gui_tests PRIVATE "${CMAKE_CURRENT_LIST_DIR}")
  target_compile_definitions(korvex_win32_gui_tests PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)
  target_link_libraries(korvex_win32_gui_tests PRIVATE korvex_platform korvex_warnings user32 GTest::gtest
                                                       GTest::gtest_main)
  add_test(NAME korvex_win32_gui_tests COMMAND korvex_win32_gui_tests)
endif()
