# The tiny Qwen3-ASR test models, written at build time by our generator with the
# vendored llama.cpp (no download), and the tests that run on them.
add_executable(make_qwen3_test_models tools/make_qwen3_test_models.cpp)
target_link_libraries(make_qwen3_test_models PRIVATE Murel::llama)

set(MUREL_QWEN3_TEST_MODEL_DIR ${CMAKE_BINARY_DIR}/test-models/qwen3-asr)
set(_qwen3_test_models
  ${MUREL_QWEN3_TEST_MODEL_DIR}/qwen3-asr-tiny.gguf
  ${MUREL_QWEN3_TEST_MODEL_DIR}/qwen3-asr-tiny-loop.gguf
  ${MUREL_QWEN3_TEST_MODEL_DIR}/qwen3a-tiny-mmproj.gguf
  ${MUREL_QWEN3_TEST_MODEL_DIR}/qwen3a-tiny-mmproj-mismatch.gguf)
add_custom_command(
  OUTPUT ${_qwen3_test_models}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MUREL_QWEN3_TEST_MODEL_DIR}
  COMMAND make_qwen3_test_models ${MUREL_QWEN3_TEST_MODEL_DIR}
  DEPENDS make_qwen3_test_models
  COMMENT "Writing the tiny Qwen3-ASR test models"
  VERBATIM)
add_custom_target(qwen3_test_models ALL DEPENDS ${_qwen3_test_models})

murel_add_test(NAME qwen3_asr_engine_test SOURCES qwen3_asr_engine_test.cpp)
add_dependencies(qwen3_asr_engine_test qwen3_test_models)
murel_add_test(NAME qwen3_asr_text_test SOURCES qwen3_asr_text_test.cpp)

# Linked with LeakSanitizer, which checks for unreachable memory inside the test.
murel_add_test(NAME qwen3_asr_leak_test SOURCES qwen3_asr_leak_test.cpp LIBS Murel::llama)
target_link_options(qwen3_asr_leak_test PRIVATE -fsanitize=leak)
add_dependencies(qwen3_asr_leak_test qwen3_test_models)

murel_add_test(NAME qwen3_asr_segmented_test SOURCES qwen3_asr_segmented_test.cpp)
add_dependencies(qwen3_asr_segmented_test qwen3_test_models murel_vad_model)
