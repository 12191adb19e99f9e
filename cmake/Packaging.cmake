# Installation layout and the Debian package.
#
#   bin/                                  the programs (whichever of them this build made)
#   share/torvane/                        message.wtf, skin/<id>.bmp, data/sound/beep.wav
#   share/applications/torvane.desktop    the menu entry
#   share/icons/hicolor/<N>x<N>/apps/     its icon
#   share/metainfo/                       AppStream metainfo (software centres)
#   share/man/man1/                       a manual page per program
#   share/bash-completion/completions/    completion, one file per program name
#   share/doc/torvane/                    copyright, changelog.Debian.gz, the guides
#   /etc/torvane/                         torvane.conf and connectd.conf (conffiles)
#   /lib/systemd/system/                  torvane-connectd.service
#
# `cmake --install build --prefix /usr` lays this out (as root: /etc is absolute);
# `cpack -G DEB` (in the build directory) makes torvane_<version>-<release>_<arch>.deb with
# stripped programs and its library dependencies worked out by dpkg-shlibdeps.
# scripts/build-deb.sh builds the programs alone with Debian's hardening flags and packages them.

include(GNUInstallDirs)

set(TORVANE_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/torvane)
set(TORVANE_DOC_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/doc/torvane)
set(packaging_src ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)

set(TORVANE_PROGRAMS torvane torvane-cli torvane-tool torvane-publish torvane-connectd
                     torvane-game-stub)
foreach(program IN LISTS TORVANE_PROGRAMS)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${packaging_src}/completion/torvane
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
  endif()
endforeach()

# The default data is generated into build/assets by the assets folder.
set(torvane_asset_dir ${PROJECT_BINARY_DIR}/assets)
install(FILES ${torvane_asset_dir}/message.wtf DESTINATION ${TORVANE_DATA_INSTALL_DIR} OPTIONAL)
install(DIRECTORY ${torvane_asset_dir}/skin/ DESTINATION ${TORVANE_DATA_INSTALL_DIR}/skin
        OPTIONAL FILES_MATCHING PATTERN "*.bmp")
install(FILES ${torvane_asset_dir}/data/sound/beep.wav
        DESTINATION ${TORVANE_DATA_INSTALL_DIR}/data/sound OPTIONAL)

# The menu entry, its icon and the software centres' metainfo belong to the window launcher: a
# build without it (TORVANE_GUI=OFF) packages none of them.
if(TORVANE_GUI)
  # The menu entry names no working folder: started from the menu (in the player's home, which
  # holds no game) the launcher patches the player's own game folder, created on first start.
  # A folder shared by all players would be locked by one player's files for the next.
  configure_file(${PROJECT_SOURCE_DIR}/cmake/torvane.desktop.in ${packaging_out}/torvane.desktop
                 @ONLY)
  install(FILES ${packaging_out}/torvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${packaging_src}/org.torvane.Torvane.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY ${torvane_asset_dir}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
          OPTIONAL FILES_MATCHING PATTERN "*.png")
endif()

# Settings for every user of the machine, and the connect server as a service.
set(TORVANE_SYSCONF_INSTALL_DIR "/etc/torvane" CACHE PATH
    "Where the package puts torvane.conf and connectd.conf (the launcher reads /etc/torvane)")
install(FILES ${packaging_src}/torvane.conf ${packaging_src}/connectd.conf
        DESTINATION ${TORVANE_SYSCONF_INSTALL_DIR})
install(FILES ${packaging_src}/torvane-connectd.service DESTINATION /lib/systemd/system)

# Debian wants manual pages and the changelog compressed with gzip -9n (no name, no time).
# The maintainer is the person or team who answers for this build of the package.
set(default_maintainer "Torvane developers <torvane@packages.invalid>")
if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
  set(default_maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
endif()
set(TORVANE_PACKAGE_MAINTAINER "${default_maintainer}" CACHE STRING
    "Maintainer field of the Debian package: \"Name <address>\" (default from DEBFULLNAME and DEBEMAIL)")
set(TORVANE_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the package")
set(TORVANE_DEB_VERSION ${PROJECT_VERSION}-${TORVANE_PACKAGE_RELEASE})
configure_file(${packaging_src}/changelog.in ${packaging_out}/changelog @ONLY)

find_program(TORVANE_GZIP gzip REQUIRED)
set(compressed_docs)
file(GLOB manual_pages CONFIGURE_DEPENDS ${packaging_src}/man/*.1)
foreach(page IN LISTS manual_pages)
  get_filename_component(name ${page} NAME)
  get_filename_component(program ${page} NAME_WE)
  if(NOT TARGET ${program})
    continue()
  endif()
  add_custom_command(OUTPUT ${packaging_out}/man/${name}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}/man
                     COMMAND ${TORVANE_GZIP} -9nc ${page} > ${packaging_out}/man/${name}.gz
                     DEPENDS ${page} VERBATIM)
  list(APPEND compressed_docs ${packaging_out}/man/${name}.gz)
  install(FILES ${packaging_out}/man/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${packaging_out}/changelog.Debian.gz
                   COMMAND ${TORVANE_GZIP} -9nc ${packaging_out}/changelog
                           > ${packaging_out}/changelog.Debian.gz
                   DEPENDS ${packaging_out}/changelog VERBATIM)
list(APPEND compressed_docs ${packaging_out}/changelog.Debian.gz)
add_custom_target(torvane_packaging_docs ALL DEPENDS ${compressed_docs})

install(FILES ${packaging_src}/copyright ${packaging_out}/changelog.Debian.gz
        DESTINATION ${TORVANE_DOC_INSTALL_DIR})
install(FILES ${packaging_src}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME torvane)
install(FILES ${PROJECT_SOURCE_DIR}/docs/deploying.md ${PROJECT_SOURCE_DIR}/docs/connectd.md
        DESTINATION ${TORVANE_DOC_INSTALL_DIR} OPTIONAL)

# Files under /etc are the administrator's once installed: dpkg keeps their edits on upgrade
# and removes them on purge.
file(WRITE ${packaging_out}/control/conffiles
     "${TORVANE_SYSCONF_INSTALL_DIR}/torvane.conf\n${TORVANE_SYSCONF_INSTALL_DIR}/connectd.conf\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TORVANE_PACKAGE_RELEASE})
set(CPACK_PACKAGE_VENDOR "The Torvane developers")
set(CPACK_PACKAGE_CONTACT "${TORVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "game launcher and patcher, with its operators' tools")
# CPack puts the summary first and indents these lines; an empty line separates paragraphs.
set(CPACK_PACKAGE_DESCRIPTION
    "Keeps a game client patched over FTP or HTTP, shows the game's news and
servers, edits the game's options and starts the client with the chosen
server, in a window or in a terminal.

For a game's operators: a connect server for thousands of players at once,
a publisher that turns game trees into a patch repository and checks it,
and tools for message tables and archives.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://torvane.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_out}/control/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Sound playback needs GStreamer's WAV decoder and an audio sink at run time.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "nginx | vsftpd")
include(CPack)
