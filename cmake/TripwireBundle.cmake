# Bundle helpers. A bundle carries its manifest as a zip archive appended to its shared library:
# entry "<symbolic name>/manifest.json" (deflate), then the directory entry "<symbolic name>/".
# The packing tool is the target tripwire-pack-manifest (tools/).
#
# The packages are found here, at the top level, so that every directory of the tree sees them.
find_package(LibArchive REQUIRED)
find_package(nlohmann_json REQUIRED)

# tripwire_embed_manifest(TARGET t SYMBOLIC_NAME name [MANIFEST file.json])
# Appends the manifest after every link of t and defines US_BUNDLE_NAME=name for its sources.
# A bundle keeps its manifest as manifest.json beside its CMakeLists.txt (the default of
# MANIFEST); it passes through configure_file(@ONLY), so it may name the install tree's layout
# (@TRIPWIRE_LAYOUT_...@). Nothing may strip t afterwards: stripping drops the appended archive.
function(tripwire_embed_manifest)
  cmake_parse_arguments(E "" "TARGET;SYMBOLIC_NAME;MANIFEST" "" ${ARGN})
  if(NOT E_TARGET OR NOT E_SYMBOLIC_NAME)
    message(FATAL_ERROR "tripwire_embed_manifest needs TARGET and SYMBOLIC_NAME")
  endif()
  if(NOT E_MANIFEST)
    set(E_MANIFEST "${CMAKE_CURRENT_SOURCE_DIR}/manifest.json")
  endif()
  set(manifest "${CMAKE_CURRENT_BINARY_DIR}/${E_SYMBOLIC_NAME}.manifest.json")
  configure_file("${E_MANIFEST}" "${manifest}" @ONLY)
  add_dependencies(${E_TARGET} tripwire-pack-manifest)
  # A changed manifest must relink, since the archive is only appended after a link.
  set_property(TARGET ${E_TARGET} APPEND PROPERTY LINK_DEPENDS "${manifest}")
  target_compile_definitions(${E_TARGET} PRIVATE US_BUNDLE_NAME=${E_SYMBOLIC_NAME})
  # Frameworks load a bundle by its file name: no versioned names and links, and installed
  # as a plain file so that `cmake --install --strip` cannot drop the archive.
  set_property(TARGET ${E_TARGET} PROPERTY VERSION)
  set_property(TARGET ${E_TARGET} PROPERTY SOVERSION)
  set_property(TARGET ${E_TARGET} PROPERTY TRIPWIRE_BUNDLE ON)
  add_custom_command(TARGET ${E_TARGET} POST_BUILD
    COMMAND tripwire-pack-manifest "$<TARGET_FILE:${E_TARGET}>" "${E_SYMBOLIC_NAME}" "${manifest}"
    COMMENT "Packing the manifest of ${E_SYMBOLIC_NAME} into $<TARGET_FILE_NAME:${E_TARGET}>"
    VERBATIM)
endfunction()
