# The accessibility how-to clip of onboarding: our own 4 s, 640 × 440 (16:11)
# drawing of the check (XTEST and XInput 2.2 switching on, then GRANTED),
# rendered at build time by ffmpeg into the resource folder (share/murel/videos).
# Silent and bit-exact, so every build makes the same file.
find_program(MUREL_FFMPEG ffmpeg REQUIRED)
set(_guide_font /usr/share/fonts/truetype/noto/NotoSans-Regular.ttf)
set(_guide ${MUREL_RESOURCE_BUILD_DIR}/videos/accessibility-permission-guide.mp4)
set(_ink 0x1F1F1F)
set(_accent 0x785D18)
set(_f fontfile=${_guide_font})
# A toggle at row `y` that switches on `t` seconds in.
function(_guide_toggle out y t)
  math(EXPR _knob "${y} + 4")
  set(${out}
    "drawbox=x=470:y=${y}:w=64:h=34:color=${_ink}@0.25:t=fill,\
drawbox=x=470:y=${y}:w=64:h=34:color=${_accent}:t=fill:enable='gte(t,${t})',\
drawbox=x=474:y=${_knob}:w=26:h=26:color=0xFFFFFF:t=fill:enable='lt(t,${t})',\
drawbox=x=504:y=${_knob}:w=26:h=26:color=0xFFFFFF:t=fill:enable='gte(t,${t})'" PARENT_SCOPE)
endfunction()
_guide_toggle(_xtest 160 1)
_guide_toggle(_xinput 230 2)
set(_filters
  "drawbox=x=60:y=50:w=520:h=340:color=0xFFFFFF@0.6:t=fill,\
drawbox=x=60:y=50:w=520:h=340:color=${_ink}@0.15:t=1,\
drawtext=${_f}:text='Murel':x=90:y=80:fontsize=30:fontcolor=${_ink},\
drawbox=x=90:y=135:w=460:h=1:color=${_ink}@0.2:t=fill,\
drawtext=${_f}:text='XTEST':x=90:y=165:fontsize=22:fontcolor=${_ink},\
drawtext=${_f}:text='XInput 2.2':x=90:y=235:fontsize=22:fontcolor=${_ink},\
${_xtest},${_xinput},\
drawbox=x=90:y=310:w=140:h=40:color=${_accent}:t=2,\
drawtext=${_f}:text='CONTINUE':x=112:y=320:fontsize=16:fontcolor=${_accent}:enable='lt(t,3)',\
drawtext=${_f}:text='GRANTED':x=116:y=320:fontsize=16:fontcolor=${_accent}:enable='gte(t,3)',\
format=yuv420p")
add_custom_command(
  OUTPUT ${_guide}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MUREL_RESOURCE_BUILD_DIR}/videos
  COMMAND ${MUREL_FFMPEG} -hide_banner -loglevel error -y -f lavfi -i color=c=0xF1ECE0:s=640x440:r=15:d=4
          -vf ${_filters} -c:v mpeg4 -q:v 3 -an -bitexact -fflags +bitexact ${_guide}
  DEPENDS ${CMAKE_CURRENT_LIST_FILE} ${_guide_font}
  COMMENT "Rendering the accessibility guide clip"
  VERBATIM)
add_custom_target(murel_guide_video ALL DEPENDS ${_guide})
add_dependencies(murel murel_guide_video)
