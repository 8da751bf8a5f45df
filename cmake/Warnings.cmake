# vo_set_warnings(<target>): the project's warning flags, applied per target, plus the options
#   VO_WARNINGS_AS_ERRORS  turn those warnings into errors (-Werror);
#   VO_SANITIZE            build with AddressSanitizer and UndefinedBehaviorSanitizer, every
#                          finding fatal (applied to every target of the project, since the
#                          sanitizer runtimes must be linked into each executable).
option(VO_WARNINGS_AS_ERRORS "Treat the project's warnings as errors" OFF)
option(VO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

function(vo_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wconversion
    $<$<BOOL:${VO_WARNINGS_AS_ERRORS}>:-Werror>)
  if(VO_SANITIZE)
    target_compile_options(${target} PRIVATE
      -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()
