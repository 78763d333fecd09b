# The Debian package made by scripts/package (cpack):
# build/dervanta_<version>_<arch>.deb, installing under /usr.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dervanta)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Dervanta developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "edit the rows of a database table in a grid")
set(CPACK_PACKAGE_DESCRIPTION
"Dervanta is a small desktop tool for editing the rows of one database table
in a grid. There is no save step: a changed row is written when you leave it,
and only if nobody else changed it in the meantime.
.
It was made for Oracle databases, reached through Oracle's ODBC driver, and
also works with PostgreSQL, SQLite and other ODBC data sources.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(DERVANTA_PACKAGE_MAINTAINER "The Dervanta developers <dervanta@marrowick.com>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DERVANTA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.marrowick.com/)
# No Debian revision, so DEB-DEFAULT names the file dervanta_<version>_<arch>.deb.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's libraries only recommend their window-system plugins, without which
# the program cannot open a window.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
# The pages ask for Arial, which fontconfig maps to Liberation Sans.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation2)

# Debian wants the manual page and the changelog compressed and binaries
# without their compiler notes; `cmake --install` leaves all that as it is.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageFinish.cmake)
set(CPACK_DERVANTA_OBJCOPY ${CMAKE_OBJCOPY})

include(CPack)
