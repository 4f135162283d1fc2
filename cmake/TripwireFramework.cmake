# Chooses the service framework that the module, the bundles and the host build against.
#   bundled: our own implementation in framework/ (targets CppMicroServices, usServiceComponent,
#            DeclarativeServices)
#   system:  an installed CppMicroServices (-DCppMicroServices_DIR=<prefix>/share/cppmicroservices3/cmake)
#   auto:    system when find_package finds one, bundled otherwise
if(TRIPWIRE_FRAMEWORK STREQUAL "auto")
  find_package(CppMicroServices QUIET CONFIG)
  if(CppMicroServices_FOUND)
    set(TRIPWIRE_FRAMEWORK_KIND system)
  else()
    set(TRIPWIRE_FRAMEWORK_KIND bundled)
  endif()
elseif(TRIPWIRE_FRAMEWORK STREQUAL "system")
  find_package(CppMicroServices REQUIRED CONFIG)
  set(TRIPWIRE_FRAMEWORK_KIND system)
else()
  set(TRIPWIRE_FRAMEWORK_KIND bundled)
endif()
message(STATUS "Service framework: ${TRIPWIRE_FRAMEWORK_KIND}")

# With an installed framework, its component API and runtime come from their own packages, and
# the runtime's libraries are copied into the staged tree so that the host finds
# <root>/lib/libDeclarativeServices.so there, as it does with the bundled framework.
if(TRIPWIRE_FRAMEWORK_KIND STREQUAL "system")
  find_package(usServiceComponent REQUIRED CONFIG HINTS "${CppMicroServices_DIR}")
  find_package(ususAsyncWorkService REQUIRED CONFIG HINTS "${CppMicroServices_DIR}")
  find_package(usDeclarativeServices REQUIRED CONFIG HINTS "${CppMicroServices_DIR}")
  set(_tripwire_fw_copies)
  foreach(lib CppMicroServices usServiceComponent usAsyncWorkService DeclarativeServices)
    if(TARGET ${lib})
      list(APPEND _tripwire_fw_copies
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${lib}>
                "${TRIPWIRE_STAGE_DIR}/${TRIPWIRE_LAYOUT_LIBRARY_DIR}/$<TARGET_SONAME_FILE_NAME:${lib}>")
    endif()
  endforeach()
  add_custom_target(tripwire_stage_system_framework ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory "${TRIPWIRE_STAGE_DIR}/${TRIPWIRE_LAYOUT_LIBRARY_DIR}"
    ${_tripwire_fw_copies}
    COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_SONAME_FILE_NAME:DeclarativeServices>
            "${TRIPWIRE_STAGE_DIR}/${TRIPWIRE_LAYOUT_DECLARATIVE_SERVICES}"
    COMMENT "Staging the installed framework's libraries")
endif()
