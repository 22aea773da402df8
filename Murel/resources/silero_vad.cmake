# The voice-activity model: Silero VAD v6 from the pinned @ricky0123/vad-web
# package, converted by our own script into whisper.cpp's VAD model format and
# placed among the resources as ggml-silero-v6.2.0.bin.
#
# Debian's python3 carries numpy and onnx; a python3 earlier on PATH (pyenv,
# a virtualenv) usually does not, so Debian's is preferred.
find_program(MUREL_SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(MUREL_SYSTEM_PYTHON3 NAMES python3)
if(NOT MUREL_SYSTEM_PYTHON3)
  message(FATAL_ERROR "python3 (with python3-numpy and python3-onnx) is needed to convert the VAD model")
endif()

set(_murel_vad_onnx ${PROJECT_SOURCE_DIR}/third_party/node_modules/@ricky0123/vad-web/dist/silero_vad_v6.onnx)
set(_murel_vad_converter ${PROJECT_SOURCE_DIR}/third_party/tools/silero_vad_onnx_to_ggml.py)
set(MUREL_VAD_MODEL ${MUREL_RESOURCE_BUILD_DIR}/ggml-silero-v6.2.0.bin)
add_custom_command(
  OUTPUT ${MUREL_VAD_MODEL}
  COMMAND ${MUREL_SYSTEM_PYTHON3} ${_murel_vad_converter} ${_murel_vad_onnx} ${MUREL_VAD_MODEL} --version 6.2.0
  DEPENDS ${_murel_vad_onnx} ${_murel_vad_converter}
  COMMENT "Converting the Silero VAD model"
  VERBATIM)
add_custom_target(murel_vad_model ALL DEPENDS ${MUREL_VAD_MODEL})
add_dependencies(murel murel_vad_model)
