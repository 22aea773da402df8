# Images drawn by AppIcon: our own SVGs, kept with their folder names
# ("Icons/info" is images/Icons/info.svg), tinted at paint time.
file(GLOB_RECURSE _images CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/images
  ${CMAKE_CURRENT_SOURCE_DIR}/images/*.svg)
set(_image_outputs)
foreach(_i ${_images})
  set(_out ${MUREL_RESOURCE_BUILD_DIR}/images/${_i})
  add_custom_command(
    OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_SOURCE_DIR}/images/${_i} ${_out}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/images/${_i}
    VERBATIM)
  list(APPEND _image_outputs ${_out})
endforeach()
add_custom_target(murel_image_resources ALL DEPENDS ${_image_outputs})
add_dependencies(murel_design murel_image_resources)
