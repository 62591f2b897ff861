# cpack -G DEB (make package): one Debian package per install component,
# velto (game) and velto-hub (hub), into build/packages. The libraries each
# needs are read from its binaries by dpkg-shlibdeps; only what no binary
# links against (fonts, the file chooser's toolkit) is named here.
set(CPACK_PACKAGE_NAME velto)
set(CPACK_PACKAGE_VENDOR "Velto developers")
set(CPACK_PACKAGE_CONTACT "${VELTO_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL game)
if(TARGET velto-hub)
  list(APPEND CPACK_COMPONENTS_ALL hub)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELTO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VELTO_HOMEPAGE}")

set(CPACK_DEBIAN_GAME_PACKAGE_NAME velto)
set(CPACK_DEBIAN_GAME_PACKAGE_SECTION games)
# SDL opens libGL at run time for the game's window, so no binary names it.
set(CPACK_DEBIAN_GAME_PACKAGE_DEPENDS "libgl1")
# The game's texts ask fontconfig for Liberation Mono; the start window's
# file chooser is GTK 2's when it is there (FLTK's own has a typing fault);
# SDL's message boxes draw with X core fonts and fall back to FLTK's without.
set(CPACK_DEBIAN_GAME_PACKAGE_RECOMMENDS "fonts-liberation2, libgtk2.0-0, xfonts-base")
set(CPACK_COMPONENT_GAME_DESCRIPTION
  "side-view motorbike game with a track editor
Ride a motorbike on sprung, damped suspension over the ground of a track:
collect every apple, then touch the finish before the rider's head touches
the ground. Twenty-four tracks from a first ride to a nine-floor finale, best
times with the replay of the best run, a ghost bike that rides it beside you,
game controllers, and an editor for building tracks of your own.
.
The package also holds velto-sim, which rides a track without a window from
a key script or a replay and checks a replay against its track.")

set(CPACK_DEBIAN_HUB_PACKAGE_NAME velto-hub)
set(CPACK_DEBIAN_HUB_PACKAGE_SECTION net)
set(CPACK_COMPONENT_HUB_DESCRIPTION
  "server for sharing Velto tracks and verified best times
velto-hub keeps the tracks, players and best times that Velto players share.
Every run sent to it is ridden again with the game's own physics before its
time counts. It keeps its data in SQLite or PostgreSQL.
.
The package holds the server, its manual page, its default options and an
example systemd unit; the server is not started by the package.")
# The default options are the administrator's to change: dpkg keeps their
# changes over upgrades and removes the file on purge, when the postrm script
# also removes the database the example unit keeps.
file(WRITE ${CMAKE_BINARY_DIR}/dist/hub-control/conffiles "/etc/default/velto-hub\n")
file(COPY ${PROJECT_SOURCE_DIR}/dist/hub/postrm DESTINATION ${CMAKE_BINARY_DIR}/dist/hub-control
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_HUB_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/dist/hub-control/conffiles ${CMAKE_BINARY_DIR}/dist/hub-control/postrm)

include(CPack)
