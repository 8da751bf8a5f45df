# Start with a prepared settings file and see the choices restored: the real program, driven
# with xdotool on the fixture display.
add_app_test(tst_startrestore SOURCES "${CMAKE_CURRENT_LIST_DIR}/tst_startrestore.cpp"
             LIBS Qt6::Core LABELS e2e)
target_compile_definitions(tst_startrestore PRIVATE VO_PROGRAM="$<TARGET_FILE:vistarel-ombrix>")
add_dependencies(tst_startrestore vistarel-ombrix)
