# What `cmake --install` puts where, and the Debian package built from it with `cpack -G DEB`.
#
# Both programs find their settings by one rule (SettingsFile::DefaultPathFor): beside themselves in a folder
# of the user's (a per-user install such as ~/.local, or a copy carried along), otherwise, as in a system
# install such as /usr, in the user's own ~/.config/tovaro/tovaro.ini.

include(GNUInstallDirs)

set(TOVARO_PACKAGE_MAINTAINER "The Tovaro developers <tovaro@example.org>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")

foreach(program tovaro tovaro-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# The helper program that reads capture dates: the programs look for it in lib/tovaro beside their bin folder
# (platform::HelperProgramPath).
install(TARGETS tovaro-capture-date RUNTIME DESTINATION lib/tovaro)

# Manual pages and the changelog carry the version or the maintainer, and go into the package compressed
# (gzip -n keeps the name and the time out, so every build packs the same bytes).
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)
set(compressed)
foreach(file tovaro.1 tovaro-cli.1 changelog)
  configure_file(${packaging}/${file}.in ${generated}/${file} @ONLY)
  add_custom_command(OUTPUT ${generated}/${file}.gz COMMAND gzip -9nkf ${generated}/${file}
                     DEPENDS ${generated}/${file} VERBATIM)
  list(APPEND compressed ${generated}/${file}.gz)
endforeach()
add_custom_target(tovaro_packaging ALL DEPENDS ${compressed})

set(docdir ${CMAKE_INSTALL_DATADIR}/doc/tovaro)
install(FILES ${generated}/tovaro-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging}/tovaro-cli.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME tovaro-cli)
install(FILES README.md ${packaging}/copyright ${generated}/changelog.gz DESTINATION ${docdir})

# Desktop integration goes with the window program: its manual page, the application menu entry, the icon
# theme and the metadata that software centres list it by.
if(TOVARO_BUILD_GUI)
  install(FILES ${generated}/tovaro.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES resources/tovaro.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32 48 64 128 256)
    install(FILES resources/icons/tovaro-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tovaro.png)
  endforeach()
  install(FILES resources/icons/tovaro.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${packaging}/org.example.tovaro.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The Debian package: cpack -G DEB in the build folder gives tovaro_<version>_<arch>.deb. Its version is
# the project's own (a native package: the changelog is ours), so the changelog's first entry must name it.
set(CPACK_PACKAGE_NAME tovaro)
set(CPACK_PACKAGE_VENDOR "The Tovaro developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "moves photos and videos off a camera under new names, or into a ZIP archive")
# One line per line of the package's long description.
set(CPACK_PACKAGE_DESCRIPTION
    "Tovaro takes every picture and video file of a camera folder and moves it
into a folder on the computer, renamed by one of five options: unchanged,
with a text, with the date of the photo, with a running number, or with a
piece of the name replaced. Instead it can pack the pictures into
ArchivePics.zip and remove them from the camera folder once the archive has
been written and checked. It never overwrites a file.

The package holds the window program tovaro and the command-line front end
tovaro-cli.")
set(CPACK_PACKAGE_CONTACT ${TOVARO_PACKAGE_MAINTAINER})
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TOVARO_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The shared libraries the programs link against become Depends (dpkg-shlibdeps, from dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET tovaro)
  # Qt loads its display connection as a plugin, which dpkg-shlibdeps cannot see; without it the window
  # cannot open.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
include(CPack)
