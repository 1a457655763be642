# The Debian package tarsel_<version>_<arch>.deb, made by CPack's DEB generator:
#   cmake --build <build dir> --target package
# scripts/package builds it in a clean Release build for /usr with Debian's hardening
# flags and checks it (lintian, install, run, remove).
#
# The package holds whatever the install rules install: the programs in /usr/bin
# (tarsel, and tarsel-cli where it is built), the virtual display in /usr/lib/tarsel,
# manual pages, tarsel-cli's shell completions (bash, zsh, fish), desktop entry, icons,
# metainfo, /usr/share/doc/tarsel and the Ansible collection tarsel.display in
# /usr/share/ansible/collections. Tests and
# benchmarks have no install rules and never reach it. Binaries are stripped; no
# separate debug-symbol package is made (a Release build has no debug information to
# keep).

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "The Debian package installs into /usr, but this build is configured for "
    "${CMAKE_INSTALL_PREFIX}; the package is made by scripts/package (the 'package' preset).")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarsel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarsel developers")
set(CPACK_PACKAGE_CONTACT "Tarsel developers <tarsel@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories 0755 whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure point-of-sale customer displays over a serial line")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Tarsel configures point-of-sale customer displays: colour TFT panels of
800 x 480 or 480 x 272 pixels driven over a serial line. It finds the
display and its line speed, reads and writes the display's settings, saves
them as a file, tries the display out with text, code-page test patterns
and QR codes, and downloads fonts, pictures and firmware into it.

The package also carries a virtual display, /usr/lib/tarsel/tarsel-display-sim,
for trying Tarsel out without a display on the desk.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies found from the binaries by dpkg-shlibdeps; the window also
# needs a platform plugin of the toolkit (X11 or Wayland), which is only a
# recommendation of the toolkit's own package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARSEL_BUILD_UI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wqy-microhei")
  # The toolkit's own dialogs (file, colour) in the user's language.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()
# The Ansible collection runs tarsel-cli on the hosts a playbook configures.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ansible-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

# A stripped install (the package's) also drops the compiler's .comment and .note
# sections from the programs, as Debian's own packaging tools do. This rule runs
# after every directory's install rules, so it covers every installed program.
set(tarsel_strip_notes [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(installed IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
      set(installed "$ENV{DESTDIR}${installed}")
      if(NOT IS_SYMLINK "${installed}" AND EXISTS "${installed}")
        file(READ "${installed}" magic LIMIT 4 HEX)
        if(magic STREQUAL "7f454c46")
          execute_process(COMMAND "@CMAKE_OBJCOPY@" --remove-section=.comment --remove-section=.note
                                  "${installed}"
                          COMMAND_ERROR_IS_FATAL ANY)
        endif()
      endif()
    endforeach()
  endif()
]])
string(CONFIGURE "${tarsel_strip_notes}" tarsel_strip_notes @ONLY)
install(CODE "${tarsel_strip_notes}")
