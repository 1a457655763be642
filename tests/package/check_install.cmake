# Installs the build into a scratch root (as the package does: prefix /usr, stripped)
# and checks what lands there. Usage:
#   cmake -DBUILD_DIR=<build> -DROOT=<scratch dir> -DVERSION=<x.y> -DAPP_ID=<id> -P check_install.cmake
# Checked: exactly the expected files and no others (no test or benchmark programs);
# every program on the PATH has its manual page; the virtual display is off the PATH;
# the Ansible collection is where Debian's Ansible looks for collections; programs are
# stripped; the icon is 256 × 256; the metainfo names this version.

cmake_minimum_required(VERSION 3.25)

foreach(var BUILD_DIR ROOT VERSION APP_ID)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_install.cmake: -D${var}=... missing")
  endif()
endforeach()

file(REMOVE_RECURSE "${ROOT}")
set(ENV{DESTDIR} "${ROOT}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix /usr --strip
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${out}")
endif()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${ROOT}" "${ROOT}/*")
# The Ansible collection, where Debian's Ansible finds it.
set(ansible usr/share/ansible/collections/ansible_collections/tarsel/display)
set(required
  usr/bin/tarsel
  usr/bin/tarsel-cli
  usr/lib/tarsel/tarsel-display-sim
  usr/share/man/man1/tarsel.1.gz
  usr/share/man/man1/tarsel-cli.1.gz
  usr/share/bash-completion/completions/tarsel-cli
  usr/share/zsh/vendor-completions/_tarsel-cli
  usr/share/fish/vendor_completions.d/tarsel-cli.fish
  usr/share/applications/${APP_ID}.desktop
  usr/share/metainfo/${APP_ID}.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/${APP_ID}.svg
  usr/share/icons/hicolor/256x256/apps/${APP_ID}.png
  usr/share/doc/tarsel/copyright
  usr/share/doc/tarsel/README.Debian
  usr/share/doc/tarsel/changelog.gz
  ${ansible}/galaxy.yml
  ${ansible}/README.md
  ${ansible}/LICENSE
  ${ansible}/meta/runtime.yml
  ${ansible}/plugins/module_utils/tarsel_cli.py
  ${ansible}/plugins/modules/info.py
  ${ansible}/plugins/modules/settings.py)
set(problems "")
foreach(f IN LISTS required)
  if(NOT f IN_LIST installed)
    string(APPEND problems "  missing: ${f}\n")
  endif()
endforeach()

# Besides those, only further tarsel programs, each with its manual page.
foreach(f IN LISTS installed)
  if(f IN_LIST required)
    continue()
  endif()
  if(f MATCHES "^usr/bin/(tarsel[-a-z]*)$")
    if(NOT "usr/share/man/man1/${CMAKE_MATCH_1}.1.gz" IN_LIST installed)
      string(APPEND problems "  program without a manual page: ${f}\n")
    endif()
  elseif(f MATCHES "^usr/share/man/man1/(tarsel[-a-z]*)\\.1\\.gz$")
    if(NOT "usr/bin/${CMAKE_MATCH_1}" IN_LIST installed)
      string(APPEND problems "  manual page without a program: ${f}\n")
    endif()
  else()
    string(APPEND problems "  not expected: ${f}\n")
  endif()
endforeach()

# Programs: stripped (no symbol table, no debug information, no compiler notes).
foreach(f IN LISTS installed)
  if(f MATCHES "^usr/(bin|lib/tarsel)/")
    file(STRINGS "${ROOT}/${f}" sections REGEX "^\\.(symtab|debug_info|comment)$")
    if(sections)
      string(APPEND problems "  not stripped (${sections}): ${f}\n")
    endif()
  endif()
  if(f MATCHES "\\.gz$")
    file(READ "${ROOT}/${f}" magic LIMIT 2 HEX)
    if(NOT magic STREQUAL "1f8b")
      string(APPEND problems "  not gzip-compressed: ${f}\n")
    endif()
  endif()
endforeach()

set(png "${ROOT}/usr/share/icons/hicolor/256x256/apps/${APP_ID}.png")
if(EXISTS "${png}")
  # Width and height, big-endian, at bytes 16..23 (the IHDR chunk).
  file(READ "${png}" size LIMIT 8 OFFSET 16 HEX)
  if(NOT size STREQUAL "0000010000000100")
    string(APPEND problems "  the 256x256 icon is not 256 × 256 (IHDR ${size})\n")
  endif()
endif()

set(metainfo "${ROOT}/usr/share/metainfo/${APP_ID}.metainfo.xml")
if(EXISTS "${metainfo}")
  file(READ "${metainfo}" text)
  foreach(wanted "<id>${APP_ID}</id>" "<release version=\"${VERSION}\""
                 "<launchable type=\"desktop-id\">${APP_ID}.desktop</launchable>")
    string(FIND "${text}" "${wanted}" at)
    if(at LESS 0)
      string(APPEND problems "  the metainfo lacks ${wanted}\n")
    endif()
  endforeach()
endif()

set(desktop "${ROOT}/usr/share/applications/${APP_ID}.desktop")
if(EXISTS "${desktop}")
  file(STRINGS "${desktop}" lines)
  foreach(wanted "Icon=${APP_ID}" "Exec=tarsel")
    if(NOT wanted IN_LIST lines)
      string(APPEND problems "  the desktop entry lacks ${wanted}\n")
    endif()
  endforeach()
endif()

if(problems)
  message(FATAL_ERROR "The installation under ${ROOT} is not as expected:\n${problems}"
    "Installed:\n  ${installed}")
endif()
