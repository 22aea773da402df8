# Speech engines on real whisper.cpp: test models generated here at build time
# (never downloaded, never committed), the VAD model from the resources.
set(MUREL_TEST_MODEL_DIR ${CMAKE_BINARY_DIR}/test-models)
set(_tools ${PROJECT_SOURCE_DIR}/third_party/tools)
set(_parakeet_generator
    ${PROJECT_SOURCE_DIR}/third_party/node_modules/nodejs-whisper/cpp/whisper.cpp/models/generate-parakeet-test-model.py)
find_program(MUREL_SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(MUREL_SYSTEM_PYTHON3 NAMES python3)

set(_models)
foreach(n_vocab 51864 51865)
  set(_out ${MUREL_TEST_MODEL_DIR}/tiny-whisper-${n_vocab}.bin)
  add_custom_command(
    OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MUREL_TEST_MODEL_DIR}
    COMMAND ${MUREL_SYSTEM_PYTHON3} ${_tools}/generate_tiny_whisper_model.py ${_out} --n-vocab ${n_vocab}
    DEPENDS ${_tools}/generate_tiny_whisper_model.py
    COMMENT "Generating a tiny Whisper test model (${n_vocab} tokens)"
    VERBATIM)
  list(APPEND _models ${_out})
endforeach()
foreach(n_vocab 10 8192)
  set(_out ${MUREL_TEST_MODEL_DIR}/parakeet-test-${n_vocab}.bin)
  add_custom_command(
    OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MUREL_TEST_MODEL_DIR}
    COMMAND ${MUREL_SYSTEM_PYTHON3} ${_tools}/generate_parakeet_test_model.py ${_parakeet_generator} ${_out}
            --n-vocab ${n_vocab}
    DEPENDS ${_tools}/generate_parakeet_test_model.py ${_parakeet_generator}
    COMMENT "Generating a Parakeet test model (${n_vocab} tokens)"
    VERBATIM)
  list(APPEND _models ${_out})
endforeach()
add_custom_target(murel_speech_test_models ALL DEPENDS ${_models})

murel_add_test(NAME speech_segmentation_test SOURCES speech_segmentation_test.cpp)
murel_add_test(NAME vad_segmenter_test SOURCES vad_segmenter_test.cpp)
# whisper.cpp runs its own voice-activity detection with four threads, slow on a busy machine.
murel_add_test(NAME whisper_engine_test SOURCES whisper_engine_test.cpp LIBS Murel::whisper TIMEOUT 900)
murel_add_test(NAME parakeet_engine_test SOURCES parakeet_engine_test.cpp)
foreach(t vad_segmenter_test whisper_engine_test parakeet_engine_test)
  add_dependencies(${t} murel_speech_test_models murel_vad_model)
endforeach()
unset(_tools)
unset(_models)
unset(_parakeet_generator)
