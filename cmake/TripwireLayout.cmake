# The install tree's layout: the one place that spells it out. Every path is relative to the
# tripwire root (the staged tree, or <prefix>/<libdir>/tripwire once installed). The folder names
# below bin/win64 and sys/ are the system's own and are kept on every platform.
#
# CMake code uses the variables; C++ code includes <tripwire/InstallLayout.h> (generated from
# them, through tripwire_interface) and scripts source <build>/install-layout.sh.
set(TRIPWIRE_LAYOUT_PROGRAM_DIR bin)
set(TRIPWIRE_LAYOUT_LIBRARY_DIR lib)
set(TRIPWIRE_LAYOUT_SAMPLE_DIR libexec/tripwire/sample)
set(TRIPWIRE_LAYOUT_BUNDLE_DIR bin/win64)
set(TRIPWIRE_LAYOUT_MODULE_DIR
    ${TRIPWIRE_LAYOUT_BUNDLE_DIR}/halvexconnector/tripwireimpl/halvexconnector/tripwireimpl)
set(TRIPWIRE_LAYOUT_HTTPPROXY_DIR ${TRIPWIRE_LAYOUT_BUNDLE_DIR}/foundation/httpproxy)
set(TRIPWIRE_LAYOUT_HTTPCLIENT_DIR ${TRIPWIRE_LAYOUT_BUNDLE_DIR}/foundation/httpclient)
# Built-in local installer archives.
set(TRIPWIRE_LAYOUT_SOURCES_DIR sys/qbds/win64)

# The files a host loads by name: frameworks install bundles by their file.
set(TRIPWIRE_LAYOUT_MODULE ${TRIPWIRE_LAYOUT_MODULE_DIR}/qbtripwireimpl${CMAKE_SHARED_MODULE_SUFFIX})
set(TRIPWIRE_LAYOUT_DECLARATIVE_SERVICES
    ${TRIPWIRE_LAYOUT_LIBRARY_DIR}/${CMAKE_SHARED_LIBRARY_PREFIX}DeclarativeServices${CMAKE_SHARED_LIBRARY_SUFFIX})

set(TRIPWIRE_LAYOUT_INCLUDE_DIR "${PROJECT_BINARY_DIR}/layout/include")
configure_file("${CMAKE_CURRENT_LIST_DIR}/InstallLayout.h.in"
  "${TRIPWIRE_LAYOUT_INCLUDE_DIR}/tripwire/InstallLayout.h" @ONLY)
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/install-layout.sh" @ONLY CONTENT
"# Generated from cmake/TripwireLayout.cmake: the install tree, relative to the tripwire root.
layout_module='@TRIPWIRE_LAYOUT_MODULE@'
layout_declarative_services='@TRIPWIRE_LAYOUT_DECLARATIVE_SERVICES@'
layout_httpclient_dir='@TRIPWIRE_LAYOUT_HTTPCLIENT_DIR@'
layout_httpproxy_dir='@TRIPWIRE_LAYOUT_HTTPPROXY_DIR@'
layout_sources_dir='@TRIPWIRE_LAYOUT_SOURCES_DIR@'
layout_sample_dir='@TRIPWIRE_LAYOUT_SAMPLE_DIR@'
")
