# The start and stop cues are our own tones, synthesized at build time by a
# small host program into the resource folder (share/murel/sounds).
add_executable(murel_cue_tones ${CMAKE_CURRENT_LIST_DIR}/cuegen/cue_tones.cpp)
target_link_libraries(murel_cue_tones PRIVATE murel_warnings)
set_target_properties(murel_cue_tones PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set(_cue_dir ${MUREL_RESOURCE_BUILD_DIR}/sounds)
set(_cue_files ${_cue_dir}/ListeningStart.wav ${_cue_dir}/ListeningStop.wav)
add_custom_command(
  OUTPUT ${_cue_files}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_cue_dir}
  COMMAND murel_cue_tones ${_cue_files}
  DEPENDS murel_cue_tones
  COMMENT "Synthesizing the recording cues"
  VERBATIM)
add_custom_target(murel_cues ALL DEPENDS ${_cue_files})
add_dependencies(murel murel_cues)
