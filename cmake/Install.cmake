# cmake --install: the program with its textures and tracks in one folder,
# <prefix>/lib/velto, which is also the program's working folder; a launcher
# <prefix>/bin/velto and velto-sim (/usr/games/ for the prefix /usr); a desktop entry, icons, AppStream metadata
# and manual pages. Two components: "game" and, where the server is built,
# "hub". cmake/Package.cmake turns each into a Debian package.
if(NOT TARGET velto)
  return()
endif()

set(VELTO_INSTALL_DIR lib/velto)
# cpack installs what make package built, without building everything else
# (the tests) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# The players' menu and software centres find the game by this name.
set(VELTO_APP_ID "org.velto.Velto" CACHE STRING "AppStream id of the game")
set(VELTO_HOMEPAGE "https://velto.example.org" CACHE STRING "The project's web address")
set(VELTO_SCREENSHOT_URL "${VELTO_HOMEPAGE}/screenshots" CACHE STRING
  "Where the pictures of docs/ are published")
set(VELTO_MAINTAINER "Velto developers <velto@example.org>" CACHE STRING
  "Name and address the packages give as their maintainer")
# Folders made by an install are 0755, whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(VELTO_DIST ${PROJECT_SOURCE_DIR}/dist)
set(VELTO_DIST_OUT ${CMAKE_BINARY_DIR}/dist)
file(MAKE_DIRECTORY ${VELTO_DIST_OUT})

# The releases of CHANGELOG.md ("## VERSION — YYYY-MM-DD"), newest first, for
# the AppStream metadata. The newest must be this build's version.
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md velto_headings ENCODING UTF-8 REGEX "^## ")
set(VELTO_RELEASES "")
set(velto_newest "")
foreach(heading IN LISTS velto_headings)
  if(NOT heading MATCHES "^## ([0-9][0-9.]*) .* ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])$")
    message(FATAL_ERROR "CHANGELOG.md: a version heading without a date: ${heading}")
  endif()
  if(velto_newest STREQUAL "")
    set(velto_newest ${CMAKE_MATCH_1})
  endif()
  string(APPEND VELTO_RELEASES "    <release version=\"${CMAKE_MATCH_1}\" date=\"${CMAKE_MATCH_2}\"/>\n")
endforeach()
if(NOT velto_newest STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "CHANGELOG.md's newest version is '${velto_newest}', the project's ${PROJECT_VERSION}")
endif()
string(REGEX REPLACE "\n$" "" VELTO_RELEASES "${VELTO_RELEASES}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
configure_file(${VELTO_DIST}/velto.metainfo.xml.in ${VELTO_DIST_OUT}/${VELTO_APP_ID}.metainfo.xml @ONLY)

# Manual pages and the Debian changelog, compressed the way Debian keeps them
# (gzip -9n: no name, no time stamp, so a rebuild gives the same bytes).
set(VELTO_VERSION ${PROJECT_VERSION})
function(velto_gzip_man page)
  configure_file(${VELTO_DIST}/man/${page} ${VELTO_DIST_OUT}/man/${page} @ONLY)
  add_custom_command(OUTPUT ${VELTO_DIST_OUT}/man/${page}.gz
    COMMAND gzip -9nf -k ${page}
    WORKING_DIRECTORY ${VELTO_DIST_OUT}/man
    DEPENDS ${VELTO_DIST_OUT}/man/${page})
endfunction()
function(velto_changelog package)
  add_custom_command(OUTPUT ${VELTO_DIST_OUT}/${package}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VELTO_DIST_OUT}/${package}
    COMMAND ${PROJECT_SOURCE_DIR}/tools/package/debian-changelog.sh
      ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${package} "${VELTO_MAINTAINER}" > ${package}/changelog
    COMMAND gzip -9nf ${package}/changelog
    WORKING_DIRECTORY ${VELTO_DIST_OUT}
    DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/tools/package/debian-changelog.sh
    VERBATIM)
endfunction()

velto_gzip_man(velto.6)
velto_gzip_man(velto-sim.6)
velto_changelog(velto)
set(velto_doc_files ${VELTO_DIST_OUT}/man/velto.6.gz ${VELTO_DIST_OUT}/man/velto-sim.6.gz
  ${VELTO_DIST_OUT}/velto/changelog.gz)

# The icon in the hicolor sizes, drawn from dist/velto.svg by ImageMagick
# (make package-deps installs it). Without it only the scalable icon ships.
set(VELTO_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(VELTO_CONVERT NAMES convert PATHS /usr/bin NO_DEFAULT_PATH)
set(velto_icons "")
if(VELTO_CONVERT)
  foreach(size IN LISTS VELTO_ICON_SIZES)
    set(png ${VELTO_DIST_OUT}/icons/${size}x${size}/velto.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${VELTO_DIST_OUT}/icons/${size}x${size}
      COMMAND ${VELTO_CONVERT} -background none -density 384 ${VELTO_DIST}/velto.svg
        -resize ${size}x${size} -strip -define png:exclude-chunks=date,time PNG32:${png}
      DEPENDS ${VELTO_DIST}/velto.svg VERBATIM)
    list(APPEND velto_icons ${png})
  endforeach()
endif()
# Part of the default build: they are small, and make the install whole.
add_custom_target(velto_dist_files ALL DEPENDS ${velto_doc_files} ${velto_icons})

# --- game -------------------------------------------------------------------
install(TARGETS velto RUNTIME DESTINATION ${VELTO_INSTALL_DIR} COMPONENT game)
# Both folders are produced by the build (velto-texgen, velto-trackgen); the
# whole tracks folder goes, with whatever the pack keeps beside its tracks.
install(DIRECTORY ${CMAKE_BINARY_DIR}/textures ${CMAKE_BINARY_DIR}/tracks
  DESTINATION ${VELTO_INSTALL_DIR} COMPONENT game PATTERN ".generated" EXCLUDE)
# Debian keeps the programs of games in /usr/games; an install under any
# other prefix (/usr/local, a home folder) puts them into bin. The folder is
# chosen when installing, so one build serves both.
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(VELTO_GAMES_BIN games)
  else()
    set(VELTO_GAMES_BIN bin)
  endif()
  " COMPONENT game)
install(PROGRAMS ${VELTO_DIST}/velto.sh DESTINATION \${VELTO_GAMES_BIN} RENAME velto COMPONENT game)
if(TARGET velto-sim)
  install(TARGETS velto-sim RUNTIME DESTINATION \${VELTO_GAMES_BIN} COMPONENT game)
endif()
install(FILES ${VELTO_DIST}/velto.desktop DESTINATION share/applications COMPONENT game)
install(FILES ${VELTO_DIST}/velto.svg DESTINATION share/icons/hicolor/scalable/apps COMPONENT game)
foreach(size IN LISTS VELTO_ICON_SIZES)
  if(VELTO_CONVERT)
    install(FILES ${VELTO_DIST_OUT}/icons/${size}x${size}/velto.png
      DESTINATION share/icons/hicolor/${size}x${size}/apps COMPONENT game)
  endif()
endforeach()
install(FILES ${VELTO_DIST_OUT}/${VELTO_APP_ID}.metainfo.xml DESTINATION share/metainfo COMPONENT game)
install(FILES ${VELTO_DIST_OUT}/man/velto.6.gz ${VELTO_DIST_OUT}/man/velto-sim.6.gz
  DESTINATION share/man/man6 COMPONENT game)
install(FILES ${VELTO_DIST}/copyright ${VELTO_DIST_OUT}/velto/changelog.gz
  DESTINATION share/doc/velto COMPONENT game)

# --- hub --------------------------------------------------------------------
if(TARGET velto-hub)
  velto_gzip_man(velto-hub.8)
  velto_changelog(velto-hub)
  add_custom_target(velto_hub_dist_files ALL DEPENDS
    ${VELTO_DIST_OUT}/man/velto-hub.8.gz ${VELTO_DIST_OUT}/velto-hub/changelog.gz)
  install(TARGETS velto-hub RUNTIME DESTINATION sbin COMPONENT hub)
  install(FILES ${VELTO_DIST_OUT}/man/velto-hub.8.gz DESTINATION share/man/man8 COMPONENT hub)
  # The example unit runs the server with the options of
  # /etc/default/velto-hub, naming it by the prefix given at install time.
  install(CODE "
    set(VELTO_HUB_PATH \"\${CMAKE_INSTALL_PREFIX}/sbin/velto-hub\")
    set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/doc/velto-hub/examples/velto-hub.service\")
    message(STATUS \"Installing: \${unit}\")
    configure_file(\"${VELTO_DIST}/velto-hub.service.in\" \"\${unit}\" @ONLY)
    " COMPONENT hub)
  # The default options: /etc/default/velto-hub for an install into /usr (the
  # package, where it is a conffile), else etc/default under the prefix.
  install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      set(velto_etc /etc/default)
    else()
      set(velto_etc \"\${CMAKE_INSTALL_PREFIX}/etc/default\")
    endif()
    file(INSTALL DESTINATION \"\${velto_etc}\" TYPE FILE RENAME velto-hub
      FILES \"${VELTO_DIST}/hub/velto-hub.default\")
    " COMPONENT hub)
  install(FILES ${VELTO_DIST}/copyright ${VELTO_DIST_OUT}/velto-hub/changelog.gz
    DESTINATION share/doc/velto-hub COMPONENT hub)
endif()

include(cmake/Package.cmake)
