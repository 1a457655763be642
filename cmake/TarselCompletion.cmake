# tarsel_add_completions(<target>)
#
# Makes the shell completion scripts of the program <target> during the build by
# running the built program (`<program> completion bash|zsh|fish`), so that they hold
# exactly the commands and options its parser has, and installs them where Debian's
# shells look for them:
#   bash: <datadir>/bash-completion/completions/<program>
#   zsh:  <datadir>/zsh/vendor-completions/_<program>
#   fish: <datadir>/fish/vendor_completions.d/<program>.fish
#
# The same file, run as a script (cmake -DPROGRAM=... -DCOMPLETION_SHELL=... -DOUTPUT=... -P),
# writes one script; a program that fails leaves no file behind.

if(CMAKE_SCRIPT_MODE_FILE)
  # A sanitizer build's leak report at exit must not fail the script.
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
                          "${PROGRAM}" completion "${COMPLETION_SHELL}"
                  OUTPUT_FILE "${OUTPUT}.part" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    file(REMOVE "${OUTPUT}.part")
    message(FATAL_ERROR "${PROGRAM} completion ${COMPLETION_SHELL} failed (${status})")
  endif()
  file(RENAME "${OUTPUT}.part" "${OUTPUT}")
  return()
endif()

set(TARSEL_COMPLETION_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(tarsel_add_completions target)
  get_target_property(program ${target} OUTPUT_NAME)
  if(NOT program)
    set(program ${target})
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/completions)
  set(bash ${dir}/${program})
  set(zsh ${dir}/_${program})
  set(fish ${dir}/${program}.fish)
  foreach(shell bash zsh fish)
    add_custom_command(
      OUTPUT ${${shell}}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DCOMPLETION_SHELL=${shell} -DOUTPUT=${${shell}}
              -P ${TARSEL_COMPLETION_SCRIPT}
      DEPENDS ${target} ${TARSEL_COMPLETION_SCRIPT}
      COMMENT "Completion of ${program} for ${shell}"
      VERBATIM)
  endforeach()
  add_custom_target(${target}_completions ALL DEPENDS ${bash} ${zsh} ${fish})
  install(FILES ${bash} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES ${zsh} DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
  install(FILES ${fish} DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
endfunction()
