# What `cmake --install` puts where, under any prefix (DESTDIR honoured):
#   lib/dervanta/       the program and HAND-M.CUR, which it looks for beside itself
#   bin/dervanta        a relative link to lib/dervanta/dervanta
#   share/              desktop entry, icons, AppStream metadata, manual page,
#                       and the copyright statement
# The program finds its pointer file through the link because Qt takes the
# program's folder from its real path.

set(DERVANTA_APP_ID com.marrowick.Dervanta)
set(DERVANTA_PROGRAM_DIR lib/dervanta)

# Qt's project setup asks for an $ORIGIN run path; the program links only
# system libraries, so it gets none (Debian forbids needless run paths).
set_target_properties(dervanta PROPERTIES INSTALL_RPATH "")
install(TARGETS dervanta RUNTIME DESTINATION ${DERVANTA_PROGRAM_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/HAND-M.CUR DESTINATION ${DERVANTA_PROGRAM_DIR})

# Relative, so that it stays right wherever the tree is installed or moved.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install)
file(CREATE_LINK ../${DERVANTA_PROGRAM_DIR}/dervanta ${CMAKE_BINARY_DIR}/install/dervanta SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/install/dervanta DESTINATION bin)

install(FILES ${CMAKE_SOURCE_DIR}/resources/${DERVANTA_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/${DERVANTA_APP_ID}.metainfo.xml DESTINATION share/metainfo)

install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/dervanta.svg
        DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 48 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/${size}x${size}/dervanta.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()

configure_file(${CMAKE_SOURCE_DIR}/resources/dervanta.1.in ${CMAKE_BINARY_DIR}/install/dervanta.1 @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install/dervanta.1 DESTINATION share/man/man1)

install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/dervanta)
