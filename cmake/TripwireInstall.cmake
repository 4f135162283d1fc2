# The install: the staged tree becomes the tripwire root <prefix>/<libdir>/tripwire, unchanged in
# shape (TripwireLayout.cmake), so the $ORIGIN run paths and the module's own look-ups hold there
# as they do in the stage. Around it, the usual places of a prefix: <bindir>/tripwire (a relative
# link to the host), headers in <includedir>, the CMake package in <libdir>/cmake/tripwire,
# pkg-config in <libdir>/pkgconfig.
#
# Components: Runtime (host, module, bundles, libraries), Development (headers, namelinks,
# package files), Sample (sample service host, installer, server and the kci archive).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TRIPWIRE_INSTALL_ROOT "${CMAKE_INSTALL_LIBDIR}/tripwire")
# Only our own interface lives directly in <includedir>; the platform headers and the bundled
# framework's go below <includedir>/tripwire, where they cannot shadow another package's.
set(TRIPWIRE_INSTALL_PRIVATE_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}/tripwire")
set(TRIPWIRE_INSTALL_PACKAGEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/tripwire")

# What a host developer links: the interface, the framework (bundled or installed) and the
# support a host needs (the running framework, the observer interfaces).
add_library(tripwire_framework INTERFACE)
target_link_libraries(tripwire_framework INTERFACE CppMicroServices usServiceComponent)
add_library(tripwire_hostsupport INTERFACE)
target_link_libraries(tripwire_hostsupport INTERFACE
  tripwire_interface tripwire_framework qbcppmicroservices qbhttpclient_core)
set_target_properties(tripwire_interface PROPERTIES EXPORT_NAME interface)
set_target_properties(tripwire_framework PROPERTIES EXPORT_NAME framework)
set_target_properties(tripwire_hostsupport PROPERTIES EXPORT_NAME hostsupport)
foreach(name interface framework hostsupport)
  add_library(tripwire::${name} ALIAS tripwire_${name})
endforeach()

set(_tripwire_exported_libraries qbi18n qbfoundation_filesystem qbhttpclient_core qbcppmicroservices)
if(TRIPWIRE_FRAMEWORK_KIND STREQUAL "bundled")
  list(APPEND _tripwire_exported_libraries CppMicroServices usServiceComponent)
  set_target_properties(CppMicroServices PROPERTIES EXPORT_NAME framework_core)
  set_target_properties(usServiceComponent PROPERTIES EXPORT_NAME framework_servicecomponent)
endif()

install(TARGETS ${_tripwire_exported_libraries} EXPORT tripwireTargets
  LIBRARY DESTINATION "${TRIPWIRE_INSTALL_ROOT}/lib" COMPONENT Runtime
          NAMELINK_COMPONENT Development
  INCLUDES DESTINATION "${TRIPWIRE_INSTALL_PRIVATE_INCLUDEDIR}")
install(TARGETS tripwire_interface EXPORT tripwireTargets
  INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(TARGETS tripwire_framework tripwire_hostsupport EXPORT tripwireTargets)

# Everything else that the build staged, by where it was staged. Programs in bin/ other than the
# host, and anything staged elsewhere (examples), are not part of the install.
get_property(_tripwire_staged GLOBAL PROPERTY TRIPWIRE_STAGED_TARGETS)
foreach(target IN LISTS _tripwire_staged)
  if(target IN_LIST _tripwire_exported_libraries)
    continue()
  endif()
  get_target_property(reldir ${target} TRIPWIRE_STAGE_RELDIR)
  get_target_property(bundle ${target} TRIPWIRE_BUNDLE)
  set(destination "${TRIPWIRE_INSTALL_ROOT}/${reldir}")
  if(reldir STREQUAL TRIPWIRE_LAYOUT_SAMPLE_DIR)
    install(TARGETS ${target} RUNTIME DESTINATION "${destination}" COMPONENT Sample)
  elseif(bundle AND (reldir STREQUAL TRIPWIRE_LAYOUT_LIBRARY_DIR
                     OR reldir MATCHES "^${TRIPWIRE_LAYOUT_BUNDLE_DIR}/"))
    # A plain file: `--strip` would drop the manifest appended to the library.
    install(FILES "$<TARGET_FILE:${target}>" DESTINATION "${destination}" COMPONENT Runtime)
  elseif(reldir STREQUAL TRIPWIRE_LAYOUT_LIBRARY_DIR)
    install(TARGETS ${target}
      LIBRARY DESTINATION "${destination}" COMPONENT Runtime NAMELINK_COMPONENT Development)
  elseif(reldir STREQUAL TRIPWIRE_LAYOUT_PROGRAM_DIR AND target STREQUAL "tripwire")
    install(TARGETS ${target} RUNTIME DESTINATION "${destination}" COMPONENT Runtime)
  endif()
endforeach()

# An installed framework's libraries, copied into the stage by TripwireFramework.cmake.
if(TRIPWIRE_FRAMEWORK_KIND STREQUAL "system")
  foreach(lib CppMicroServices usServiceComponent usAsyncWorkService DeclarativeServices)
    if(TARGET ${lib})
      install(FILES "${TRIPWIRE_STAGE_DIR}/${TRIPWIRE_LAYOUT_LIBRARY_DIR}/$<TARGET_SONAME_FILE_NAME:${lib}>"
        DESTINATION "${TRIPWIRE_INSTALL_ROOT}/${TRIPWIRE_LAYOUT_LIBRARY_DIR}" COMPONENT Runtime)
    endif()
  endforeach()
  install(FILES "${TRIPWIRE_STAGE_DIR}/${TRIPWIRE_LAYOUT_DECLARATIVE_SERVICES}"
    DESTINATION "${TRIPWIRE_INSTALL_ROOT}/${TRIPWIRE_LAYOUT_LIBRARY_DIR}" COMPONENT Runtime)
endif()

install(FILES "${TRIPWIRE_SAMPLE_KCI_ARCHIVE}"
  DESTINATION "${TRIPWIRE_INSTALL_ROOT}/${TRIPWIRE_LAYOUT_SOURCES_DIR}" COMPONENT Sample)

# <bindir>/tripwire: the host resolves /proc/self/exe, so it finds its root through the link.
file(RELATIVE_PATH _tripwire_host_link "/p/${CMAKE_INSTALL_BINDIR}"
     "/p/${TRIPWIRE_INSTALL_ROOT}/${TRIPWIRE_LAYOUT_PROGRAM_DIR}/tripwire")
file(MAKE_DIRECTORY "${PROJECT_BINARY_DIR}/install-links")
file(CREATE_LINK "${_tripwire_host_link}" "${PROJECT_BINARY_DIR}/install-links/tripwire" SYMBOLIC)
install(FILES "${PROJECT_BINARY_DIR}/install-links/tripwire"
  DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT Runtime)

# Headers: every header of an exported target, so that each installed header compiles alone.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/tripwire/include/" "${TRIPWIRE_LAYOUT_INCLUDE_DIR}/"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT Development)
foreach(target IN LISTS _tripwire_exported_libraries)
  get_target_property(dir ${target} SOURCE_DIR)
  install(DIRECTORY "${dir}/include/"
    DESTINATION "${TRIPWIRE_INSTALL_PRIVATE_INCLUDEDIR}" COMPONENT Development)
endforeach()

# The CMake package (relocatable: every path is relative to the package's own directory).
install(EXPORT tripwireTargets NAMESPACE tripwire::
  DESTINATION "${TRIPWIRE_INSTALL_PACKAGEDIR}" COMPONENT Development)
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/tripwireConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/tripwireConfig.cmake"
  INSTALL_DESTINATION "${TRIPWIRE_INSTALL_PACKAGEDIR}"
  PATH_VARS TRIPWIRE_INSTALL_ROOT)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/tripwireConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/tripwireConfig.cmake"
              "${PROJECT_BINARY_DIR}/tripwireConfigVersion.cmake"
  DESTINATION "${TRIPWIRE_INSTALL_PACKAGEDIR}" COMPONENT Development)

# pkg-config for the interface, relocatable through ${pcfiledir}.
file(RELATIVE_PATH TRIPWIRE_PC_PREFIX "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
string(REGEX REPLACE "/$" "" TRIPWIRE_PC_PREFIX "${TRIPWIRE_PC_PREFIX}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/tripwire.pc.in" "${PROJECT_BINARY_DIR}/tripwire.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/tripwire.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig" COMPONENT Development)
