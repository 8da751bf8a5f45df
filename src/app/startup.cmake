# The start-up sequence (Form_Load and its helpers): sits on top of every layer, so it is a
# library of its own beside the app support library, linked only by the executable and tests.
# Included from src/app/CMakeLists.txt; ui and the icon resources are defined later, which is
# fine for target_link_libraries.
add_library(vo_startup STATIC
  "${CMAKE_CURRENT_LIST_DIR}/StartUp.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/CursorFile.cpp")
add_library(vo::startup ALIAS vo_startup)
target_include_directories(vo_startup PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
target_link_libraries(vo_startup
  PUBLIC vo::ui vo::app vo::imaging vo::core Qt6::Widgets
  PRIVATE $<TARGET_NAME_IF_EXISTS:vo_resources>)
# The installed program finds its optional skin and pointer files here as well.
target_compile_definitions(vo_startup PRIVATE
  VO_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/vistarel-ombrix")
vo_set_warnings(vo_startup)
