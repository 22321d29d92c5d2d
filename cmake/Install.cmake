# What `cmake --install` puts where, and the Debian package built from it with `cpack -G DEB`.
#
# The settings file (tovaro.ini) lives beside the executable, so both programs can keep their folders and
# running number only where the user may write to the bin/ folder. An install into a system prefix such as
# /usr (which is where the Debian package installs) works but keeps no settings; a per-user prefix keeps
# them:  cmake --install build --prefix ~/.local

include(GNUInstallDirs)

foreach(program tovaro tovaro-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Desktop integration goes with the window program: the application menu entry and the icon theme.
if(TOVARO_BUILD_GUI)
  install(FILES resources/tovaro.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32 48 64 128 256)
    install(FILES resources/icons/tovaro-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tovaro.png)
  endforeach()
  install(FILES resources/icons/tovaro.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tovaro)

# The Debian package: cpack -G DEB in the build folder gives tovaro_<version>_<arch>.deb.
set(TOVARO_PACKAGE_MAINTAINER "Tovaro developers <tovaro@example.org>"
    CACHE STRING "Maintainer named in the Debian package")
set(CPACK_PACKAGE_NAME tovaro)
set(CPACK_PACKAGE_VENDOR Tovaro)
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
# The shared libraries the programs link against become Depends (dpkg-shlibdeps, from dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET tovaro)
  # Qt loads its display connection as a plugin, which dpkg-shlibdeps cannot see; without it the window
  # cannot open.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
include(CPack)
