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
