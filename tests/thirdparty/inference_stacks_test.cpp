// Both inference stacks loaded into one process: each must answer through its
// own API and log hook, and neither may disturb the other.

#include "stack_sides.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace whisper_side = murel::thirdparty_test::whisper_side;
namespace llama_side = murel::thirdparty_test::llama_side;
namespace fs = std::filesystem;

class InferenceStacksTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    whisper_side::captureLogs();
    llama_side::captureLogs();
  }

  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("murel-stacks-" + std::to_string(random()));
    fs::create_directories(dir_);
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string path(const char* name) const { return (dir_ / name).string(); }

 private:
  fs::path dir_;
};

TEST_F(InferenceStacksTest, WhisperStackRejectsMissingModelsQuietly) {
  const std::string missing = path("absent.bin");
  const int whisperLinesBefore = whisper_side::capturedLogLines();
  const int llamaLinesBefore = llama_side::capturedLogLines();

  testing::internal::CaptureStderr();
  const bool whisper = whisper_side::whisperLoads(missing);
  const bool parakeet = whisper_side::parakeetLoads(missing);
  const bool vad = whisper_side::vadLoads(missing);
  const std::string stderrText = testing::internal::GetCapturedStderr();

  EXPECT_FALSE(whisper);
  EXPECT_FALSE(parakeet);
  EXPECT_FALSE(vad);
  EXPECT_EQ(stderrText, "");
  EXPECT_GT(whisper_side::capturedLogLines(), whisperLinesBefore);
  EXPECT_EQ(llama_side::capturedLogLines(), llamaLinesBefore);
}

TEST_F(InferenceStacksTest, LlamaStackRejectsMissingModelsQuietly) {
  const std::string missing = path("absent.gguf");
  const int whisperLinesBefore = whisper_side::capturedLogLines();
  const int llamaLinesBefore = llama_side::capturedLogLines();

  testing::internal::CaptureStderr();
  const bool model = llama_side::modelLoads(missing);
  const bool projector = llama_side::projectorLoads(missing);
  const std::string stderrText = testing::internal::GetCapturedStderr();

  EXPECT_FALSE(model);
  EXPECT_FALSE(projector);
  EXPECT_EQ(stderrText, "");
  EXPECT_GT(llama_side::capturedLogLines(), llamaLinesBefore);
  EXPECT_EQ(whisper_side::capturedLogLines(), whisperLinesBefore);
}

// Without the statically registered CPU backend llama cannot place a single
// tensor, and every real model load would fail.
TEST_F(InferenceStacksTest, LlamaStackHasItsCpuBackend) { EXPECT_TRUE(llama_side::hasCpuDevice()); }

TEST_F(InferenceStacksTest, GgufWrittenThroughExportedApiReadsBack) {
  const std::string file = path("roundtrip.gguf");
  const std::vector<float> values{0.5f, -1.25f, 3.0f, 1e-3f, -0.0f, 42.0f};

  ASSERT_TRUE(llama_side::writeGguf(file, "qwen3", "token_embd.weight", 3, 2, values));
  const auto contents = llama_side::readGguf(file, "token_embd.weight");

  ASSERT_TRUE(contents.readable);
  EXPECT_EQ(contents.architecture, "qwen3");
  EXPECT_EQ(contents.tensorShape, (std::vector<long long>{3, 2}));
  EXPECT_EQ(contents.tensorValues, values);
}

// A well-formed GGUF without hyperparameters must be refused by both stacks
// without aborting the process.
TEST_F(InferenceStacksTest, IncompleteGgufIsRefusedByBothStacks) {
  const std::string file = path("incomplete.gguf");
  ASSERT_TRUE(llama_side::writeGguf(file, "qwen3", "token_embd.weight", 2, 2, {1, 2, 3, 4}));

  testing::internal::CaptureStderr();
  const bool model = llama_side::modelLoads(file);
  const bool projector = llama_side::projectorLoads(file);
  const bool whisper = whisper_side::whisperLoads(file);
  const bool parakeet = whisper_side::parakeetLoads(file);
  const std::string stderrText = testing::internal::GetCapturedStderr();

  EXPECT_FALSE(model);
  EXPECT_FALSE(projector);
  EXPECT_FALSE(whisper);
  EXPECT_FALSE(parakeet);
  EXPECT_EQ(stderrText, "");
}

}  // namespace
