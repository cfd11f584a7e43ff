# Desktop integration and the Debian package (scripts/package builds it).
install(FILES dist/motifo-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME motifo.xml)
install(FILES dist/motifo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
  RENAME invalid.quavertone.motifo.metainfo.xml)
install(FILES dist/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/motifo)

# Debian wants the changelog and the manual page compressed, without a time stamp.
foreach(doc changelog motifo.1)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/dist/${doc}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/dist
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/dist/${doc} > ${CMAKE_BINARY_DIR}/dist/${doc}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/dist/${doc} COMMENT "compress ${doc}")
endforeach()
add_custom_target(packagedocs ALL DEPENDS ${CMAKE_BINARY_DIR}/dist/changelog.gz ${CMAKE_BINARY_DIR}/dist/motifo.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/dist/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/motifo)
install(FILES ${CMAKE_BINARY_DIR}/dist/motifo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME motifo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quavertone)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quavertone <packages@quavertone.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sketch songs by playing along with yourself")
# The long description; CPack indents its lines.
set(CPACK_PACKAGE_DESCRIPTION "Motifo is a loop recorder for sketching songs. Play one instrument at a time
from a MIDI keyboard or the screen: a sampled instrument, a synthesizer, a
General MIDI sound or a live audio input. The loop recorder always runs, so
you hear your part come back and can play along with it. Keep the loops you
like, gather them into ideas, and export them as WAV and MIDI files.")
# The libraries (and WebEngine's helper process) come from the program itself
# through dpkg-shlibdeps; beyond them it needs the platform plugins and the
# SoundFont its instruments play.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fluid-soundfont-gm")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "jackd2 | pipewire-jack")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The SoundFont link points into fluid-soundfont-gm: relative, as Debian asks.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/dist/relativelinks.cmake)
include(CPack)
