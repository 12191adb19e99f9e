# Installation layout and the Debian package.
#
#   bin/                      the programs (whichever of them this build made)
#   share/torvane/            message.wtf, skin/<id>.bmp, data/sound/beep.wav: the default data
#   share/applications/       torvane.desktop
#   share/doc/torvane/        the deployment guide
#
# `cmake --install build --prefix /usr` lays this out; `cpack -G DEB` (in the build directory)
# makes torvane_<version>_<arch>.deb with its library dependencies worked out by
# dpkg-shlibdeps.

include(GNUInstallDirs)

set(TORVANE_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/torvane)

foreach(program IN ITEMS torvane torvane-cli torvane-tool torvane-publish torvane-connectd)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The default data is generated into build/assets by the assets folder.
set(torvane_asset_dir ${PROJECT_BINARY_DIR}/assets)
install(FILES ${torvane_asset_dir}/message.wtf DESTINATION ${TORVANE_DATA_INSTALL_DIR} OPTIONAL)
install(DIRECTORY ${torvane_asset_dir}/skin/ DESTINATION ${TORVANE_DATA_INSTALL_DIR}/skin
        OPTIONAL FILES_MATCHING PATTERN "*.bmp")
install(FILES ${torvane_asset_dir}/data/sound/beep.wav
        DESTINATION ${TORVANE_DATA_INSTALL_DIR}/data/sound OPTIONAL)

# The launcher patches its current directory: the menu entry starts it in the game directory,
# which the deployment chooses (players must be able to write there).
set(TORVANE_DESKTOP_GAME_DIR "/var/games/torvane" CACHE PATH
    "Game directory the installed menu entry starts the launcher in")
configure_file(${PROJECT_SOURCE_DIR}/cmake/torvane.desktop.in
               ${PROJECT_BINARY_DIR}/packaging/torvane.desktop @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/torvane.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/docs/deploying.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/torvane OPTIONAL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Torvane team")
set(CPACK_PACKAGE_CONTACT "Torvane team <torvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Game launcher and patcher")
set(CPACK_PACKAGE_DESCRIPTION
    "Keeps a game client patched over FTP or HTTP, starts it with the chosen server and edits\n the game's options; with the operator tools to publish and check patch repositories.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Sound playback needs GStreamer's WAV decoder and an audio sink at run time.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "nginx | vsftpd")
include(CPack)
