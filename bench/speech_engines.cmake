# The speech engines' benchmarks compare our Whisper engine with whisper.cpp's
# own command-line tool, built here for that purpose only, with upstream's
# Release optimisation like the library it links.
set(_w ${PROJECT_SOURCE_DIR}/third_party/node_modules/nodejs-whisper/cpp/whisper.cpp)
add_executable(murel_bench_whisper_cli
  ${_w}/examples/cli/cli.cpp
  ${_w}/examples/common.cpp
  ${_w}/examples/common-ggml.cpp
  ${_w}/examples/common-whisper.cpp
  ${_w}/examples/grammar-parser.cpp)
target_include_directories(murel_bench_whisper_cli PRIVATE ${_w}/examples)
target_compile_options(murel_bench_whisper_cli PRIVATE -w -O3)
set_target_properties(murel_bench_whisper_cli PROPERTIES CXX_STANDARD 17)
target_link_libraries(murel_bench_whisper_cli PRIVATE whisper Threads::Threads ${CMAKE_DL_LIBS})
# The same for the Parakeet engine and whisper.cpp's Parakeet tool.
add_executable(murel_bench_parakeet_cli
  ${_w}/examples/parakeet-cli/parakeet-cli.cpp
  ${_w}/examples/common.cpp
  ${_w}/examples/common-whisper.cpp)
target_include_directories(murel_bench_parakeet_cli PRIVATE ${_w}/examples)
target_compile_options(murel_bench_parakeet_cli PRIVATE -w -O3)
set_target_properties(murel_bench_parakeet_cli PROPERTIES CXX_STANDARD 17)
target_link_libraries(murel_bench_parakeet_cli PRIVATE parakeet whisper Threads::Threads ${CMAKE_DL_LIBS})

target_link_libraries(speech_engines_bench PRIVATE Murel::whisper)
target_include_directories(speech_engines_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
# The real-size models are generated on a benchmark's first run, not at build time.
find_program(MUREL_BENCH_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(MUREL_BENCH_PYTHON3 NAMES python3)
set(_real_size_models
  MUREL_BENCH_PARAKEET_GENERATOR="${PROJECT_SOURCE_DIR}/third_party/tools/generate_parakeet_test_model.py"
  MUREL_BENCH_UPSTREAM_PARAKEET_GENERATOR="${_w}/models/generate-parakeet-test-model.py"
  MUREL_BENCH_PYTHON="${MUREL_BENCH_PYTHON3}"
  MUREL_BENCH_WHISPER_GENERATOR="${PROJECT_SOURCE_DIR}/third_party/tools/generate_tiny_whisper_model.py"
  MUREL_BENCH_MODEL_DIR="${CMAKE_BINARY_DIR}/bench-models")
target_compile_definitions(speech_engines_bench PRIVATE
  ${_real_size_models}
  MUREL_BENCH_WHISPER_CLI="$<TARGET_FILE:murel_bench_whisper_cli>"
  MUREL_BENCH_PARAKEET_CLI="$<TARGET_FILE:murel_bench_parakeet_cli>"
  MUREL_BENCH_JFK_SAMPLE="${_w}/samples/jfk.mp3"
  MUREL_BENCH_TEST_MODEL_DIR="${CMAKE_BINARY_DIR}/test-models")
add_dependencies(speech_engines_bench murel_bench_whisper_cli murel_bench_parakeet_cli murel_vad_model)
if(TARGET murel_speech_test_models)  # the Parakeet test model for the load-stall benchmark
  add_dependencies(speech_engines_bench murel_speech_test_models)
endif()
# The first dictation after launch, in the real process on the rig, with the
# same real-size Whisper model.
target_compile_definitions(first_dictation_bench PRIVATE ${_real_size_models})
target_include_directories(first_dictation_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/app)
target_link_libraries(first_dictation_bench PRIVATE murel_test_support)
add_dependencies(first_dictation_bench murel murel_vad_model)
unset(_real_size_models)
unset(_w)
