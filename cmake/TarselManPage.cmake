# tarsel_add_man_page(<target> <section> <description>)
#
# Makes the manual page of the program <target> during the build by running help2man
# on the built executable (its --help and --version), gzips it (-9n, as Debian wants
# it) and installs it as <mandir>/man<section>/<program>.<section>.gz. <description>
# is the page's one-line NAME entry, for example "configure customer displays".
#
# The program is run without a display (DISPLAY and WAYLAND_DISPLAY unset): --help and
# --version must answer without opening a window.

find_program(TARSEL_HELP2MAN help2man REQUIRED)
find_program(TARSEL_GZIP gzip REQUIRED)

function(tarsel_add_man_page target section description)
  get_target_property(program ${target} OUTPUT_NAME)
  if(NOT program)
    set(program ${target})
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.${section})
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
            # A sanitizer build's leak report at exit must not fail the page.
            ASAN_OPTIONS=detect_leaks=0
            ${TARSEL_HELP2MAN} --no-info
            --section=${section} --name=${description} --output=${page}
            $<TARGET_FILE:${target}>
    COMMAND ${TARSEL_GZIP} -9 -n -f ${page}
    DEPENDS ${target}
    COMMENT "Manual page ${program}(${section})"
    VERBATIM)
  add_custom_target(${target}_man_page ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
