# The design system's resources: the Noto Sans faces the design's weights name,
# its italic, Monoton and the symbol icons, copied into the resource folder at
# build time. Debian 12 ships Regular, Italic and Bold in fonts-noto-core and the
# other weights in fonts-noto-extra.
set(_noto_dir /usr/share/fonts/truetype/noto)
set(_noto_faces Regular Italic Medium SemiBold Bold ExtraBold Black)
set(_monoton ${PROJECT_SOURCE_DIR}/third_party/node_modules/@fontsource/monoton/files/monoton-latin-400-normal.woff)
set(_fonts_out ${MUREL_RESOURCE_BUILD_DIR}/fonts)
set(_font_sources ${_monoton})
set(_design_outputs ${_fonts_out}/Monoton-Regular.woff)
set(_copy_fonts COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_monoton} ${_fonts_out}/Monoton-Regular.woff)
foreach(_face ${_noto_faces})
  set(_src ${_noto_dir}/NotoSans-${_face}.ttf)
  list(APPEND _font_sources ${_src})
  list(APPEND _design_outputs ${_fonts_out}/NotoSans-${_face}.ttf)
  list(APPEND _copy_fonts COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_src} ${_fonts_out}/NotoSans-${_face}.ttf)
endforeach()
foreach(_f ${_font_sources})
  if(NOT EXISTS ${_f})
    message(FATAL_ERROR "Missing font ${_f}: run scripts/setup (fonts-noto-core, fonts-noto-extra and the pinned npm sources)")
  endif()
endforeach()

add_custom_command(
  OUTPUT ${_design_outputs}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_fonts_out}
  ${_copy_fonts}
  DEPENDS ${_font_sources}
  COMMENT "Copying the design fonts"
  VERBATIM)

# Symbols and the images that AppIcon draws ("Icons/voice" is
# images/Icons/voice.svg): our own SVGs, drawn in black and tinted at paint time.
file(GLOB_RECURSE _svgs RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/symbols/*.svg ${CMAKE_CURRENT_SOURCE_DIR}/images/*.svg)
foreach(_rel ${_svgs})
  set(_out ${MUREL_RESOURCE_BUILD_DIR}/${_rel})
  get_filename_component(_out_dir ${_out} DIRECTORY)
  add_custom_command(
    OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_out_dir}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_SOURCE_DIR}/${_rel} ${_out}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${_rel}
    VERBATIM)
  list(APPEND _design_outputs ${_out})
endforeach()

add_custom_target(murel_design_resources ALL DEPENDS ${_design_outputs})
add_dependencies(murel_design murel_design_resources)
