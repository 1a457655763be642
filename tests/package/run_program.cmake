# Runs a program and checks what it did. Usage:
#   cmake [-DEXIT_CODE=n] [-DSTDOUT=regex] [-DSTDERR=regex] [-DSILENT=ON] [-DNO_DISPLAY=ON]
#         -P run_program.cmake -- <program> [arguments...]
# EXIT_CODE: the exit status wanted (default 0). STDOUT, STDERR: regular expressions the
# whole output must match (trailing white space removed). SILENT: nothing may be printed
# at all. NO_DISPLAY: runs without any display (DISPLAY and WAYLAND_DISPLAY unset, the
# X11 platform forced), so a program that opens a window fails.

cmake_minimum_required(VERSION 3.25)

set(command "")
set(seen_separator OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(seen_separator)
    list(APPEND command "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(seen_separator ON)
  endif()
endforeach()
if(NOT command)
  message(FATAL_ERROR "run_program.cmake: no program after --")
endif()
if(NOT DEFINED EXIT_CODE)
  set(EXIT_CODE 0)
endif()

if(NO_DISPLAY)
  unset(ENV{DISPLAY})
  unset(ENV{WAYLAND_DISPLAY})
  set(ENV{QT_QPA_PLATFORM} xcb)
endif()

execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX REPLACE "[ \t\r\n]+$" "" out "${out}")
string(REGEX REPLACE "[ \t\r\n]+$" "" err "${err}")
set(what "${command}\n  exit status: ${status}\n  standard output:\n${out}\n  standard error:\n${err}")

if(NOT status STREQUAL EXIT_CODE)
  message(FATAL_ERROR "wanted exit status ${EXIT_CODE}: ${what}")
endif()
if(DEFINED STDOUT AND NOT out MATCHES "${STDOUT}")
  message(FATAL_ERROR "standard output does not match \"${STDOUT}\": ${what}")
endif()
if(DEFINED STDERR AND NOT err MATCHES "${STDERR}")
  message(FATAL_ERROR "standard error does not match \"${STDERR}\": ${what}")
endif()
if(SILENT AND NOT (out STREQUAL "" AND err STREQUAL ""))
  message(FATAL_ERROR "wanted no output at all: ${what}")
endif()
