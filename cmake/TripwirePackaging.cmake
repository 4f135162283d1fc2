# Debian packages, one per install component (target `package`, or `make package`):
#   tripwire         Runtime      the host, the module, the bundles and their libraries
#   tripwire-dev     Development  headers, namelinks, the CMake package and tripwire.pc
#   tripwire-sample  Sample       the sample service host, installer, server and kci archive
# All three install below /usr; the tripwire root is /usr/<libdir>/tripwire.
set(TRIPWIRE_PACKAGE_MAINTAINER "Tripwire developers <tripwire@quillbeck.com>"
  CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tripwire)
set(CPACK_PACKAGE_VENDOR Quillbeck)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${TRIPWIRE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL Runtime Development Sample)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# Strips what install(TARGETS) installs; bundles are installed as plain files and keep their
# appended manifests.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillbeck.com/")

set(_tripwire_deb_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME tripwire)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION misc)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "plug-in module that keeps the Roduded Ozovizaz service host running
A service bundle for a CppMicroServices framework with its Declarative
Services runtime: it checks whether the service host is installed and
running, starts it, and installs it from a local archive or by download.
This package holds the module, its bundles and libraries below
/usr/lib/tripwire, and the command-line host tripwire.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME tripwire-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "tripwire (= ${_tripwire_deb_version}), libboost-dev (>= 1.74), nlohmann-json3-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "development files for hosts of the tripwire module
Headers of the ITripwire service interface, of the service framework and
of the host support library, the CMake package (find_package(tripwire
CONFIG)) and the pkg-config file tripwire.pc.")

set(CPACK_DEBIAN_SAMPLE_PACKAGE_NAME tripwire-sample)
set(CPACK_DEBIAN_SAMPLE_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_SAMPLE_PACKAGE_DEPENDS "tripwire (= ${_tripwire_deb_version})")
set(CPACK_COMPONENT_SAMPLE_DESCRIPTION
  "sample installation of the service host for the tripwire module
A small service host, its silent installer packed as the local installer
archive that the module finds in its installation, and a loopback web
server that offers the archive as the latest installer, for trying the
module out without a network.")

# Debian wants a copyright file and a changelog in each package's documentation folder.
foreach(component Runtime Development Sample)
  string(TOUPPER "${component}" upper)
  set(package "${CPACK_DEBIAN_${upper}_PACKAGE_NAME}")
  set(docdir "${PROJECT_BINARY_DIR}/debian/${package}")
  file(MAKE_DIRECTORY "${docdir}")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/debian/copyright" "${docdir}/copyright" COPYONLY)
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE "${docdir}/changelog.Debian"
    "${package} (${_tripwire_deb_version}) unstable; urgency=medium\n\n"
    "  * Release ${PROJECT_VERSION}.\n\n"
    " -- ${TRIPWIRE_PACKAGE_MAINTAINER}  ${date}\n")
  execute_process(COMMAND gzip -9nf "${docdir}/changelog.Debian" COMMAND_ERROR_IS_FATAL ANY)
  install(FILES "${docdir}/copyright" "${docdir}/changelog.Debian.gz"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}" COMPONENT ${component}
    EXCLUDE_FROM_ALL)
endforeach()
# Bundles must keep the archive appended to their libraries, so they stay unstripped.
install(FILES "${PROJECT_SOURCE_DIR}/cmake/debian/tripwire.lintian-overrides"
  DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides" RENAME tripwire
  COMPONENT Runtime EXCLUDE_FROM_ALL)

include(CPack)
