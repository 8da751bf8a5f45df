# add_app_test(<name> SOURCES <files...> LIBS <targets...> LABELS <unit|x11|e2e...>
#              [ENVIRONMENT <VAR=value...>])
# Builds one test executable from its own sources, links the project's libraries (never
# recompiling src/), and registers it with CTest. Tests labelled x11 or e2e run against the
# Xvfb display started by the CTest fixture "xvfb"; tests labelled wayland run natively on the
# headless sway of the fixture "sway" (VO_SWAY_FOLDER names its folder); unit tests run on the
# offscreen platform.
function(add_app_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/tests/support")
  vo_set_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set(env ${ARG_ENVIRONMENT})
  if("x11" IN_LIST ARG_LABELS OR "e2e" IN_LIST ARG_LABELS)
    list(APPEND env "DISPLAY=${VO_TEST_DISPLAY}" "QT_QPA_PLATFORM=xcb")
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED xvfb RESOURCE_LOCK display)
  elseif("wayland" IN_LIST ARG_LABELS)
    list(APPEND env "WAYLAND_DISPLAY=${VO_SWAY_FOLDER}/wayland-socket"
                    "XDG_RUNTIME_DIR=${VO_SWAY_FOLDER}/client-runtime"
                    "VO_SWAY_FOLDER=${VO_SWAY_FOLDER}" "QT_QPA_PLATFORM=wayland")
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED sway RESOURCE_LOCK sway)
  else()
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" ENVIRONMENT "${env}" TIMEOUT 120)
endfunction()
