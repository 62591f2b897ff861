# cmake --install: the program with its textures and tracks in one folder,
# <prefix>/lib/velto, which is also the program's working folder; a launcher
# <prefix>/bin/velto; a desktop entry and an icon for the desktop's menu.
if(NOT TARGET velto)
  return()
endif()

set(VELTO_INSTALL_DIR lib/velto)

install(TARGETS velto RUNTIME DESTINATION ${VELTO_INSTALL_DIR})
# Both folders are produced by the build (velto-texgen, velto-trackgen).
install(DIRECTORY ${CMAKE_BINARY_DIR}/textures ${CMAKE_BINARY_DIR}/tracks
  DESTINATION ${VELTO_INSTALL_DIR} PATTERN ".generated" EXCLUDE)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/dist/velto.sh DESTINATION bin RENAME velto)
install(FILES ${PROJECT_SOURCE_DIR}/dist/velto.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/dist/velto.svg DESTINATION share/icons/hicolor/scalable/apps)
