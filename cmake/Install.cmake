# What `cmake --install` puts under the prefix: the three programs, the run-time libraries
# they load by name (in lib/quillon, found from the program's folder), desktop entries, icon,
# AppStream metadata and manual pages.
include(GNUInstallDirs)
set(QL_LIBRARY_DIR ${CMAKE_INSTALL_LIBDIR}/quillon)

install(TARGETS trackwell adremove RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS mmcdda32 bladeenc msacm32 LIBRARY DESTINATION ${QL_LIBRARY_DIR})
install(FILES cli/trackwell.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(QL_BUILD_GUI)
  install(TARGETS qlplayer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES player/desktop/quillon-media-player.desktop player/desktop/quillon-trackwell.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES player/desktop/quillon-media-player.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES player/desktop/example.quillon_software.MediaPlayer.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES player/desktop/qlplayer.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The installed programs, run from a staging folder (needs the GUI for the window checks).
if(BUILD_TESTING AND QL_BUILD_GUI)
  add_test(NAME staged_install
    COMMAND ${CMAKE_SOURCE_DIR}/tests/install/staged-install.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(staged_install PROPERTIES LABELS install TIMEOUT 300)
endif()
