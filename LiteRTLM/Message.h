#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace litertlm {

using Json = nlohmann::json;

enum class Role { system, user, model, tool };
std::string roleName(Role role);
std::optional<Role> roleFromName(std::string_view name);

// One part of a message.
struct Content {
  enum class Kind { text, imageData, imageFile, audioData, audioFile, toolResponse };
  Kind kind = Kind::text;
  std::string text;                // text; file path of imageFile/audioFile; name of toolResponse
  std::vector<std::uint8_t> data;  // imageData, audioData
  Json response;                   // toolResponse
  std::string id;                  // toolResponse

  static Content makeText(std::string text);
  static Content imageBytes(std::vector<std::uint8_t> bytes);
  static Content imageFile(std::string path);
  static Content audioBytes(std::vector<std::uint8_t> bytes);
  static Content audioFile(std::string path);
  static Content toolResponse(std::string name, Json response, std::string id = {});

  Json toJson() const;
  bool operator==(const Content&) const = default;
};

using Contents = std::vector<Content>;

struct ToolCall {
  std::string name;
  std::string id;
  Json arguments = Json::object();
  bool operator==(const ToolCall&) const = default;
};

// One turn of a conversation. It always holds at least one part, channel or
// tool call; the constructors refuse anything else (std::invalid_argument).
class Message {
 public:
  Message(Role role, std::string text, std::map<std::string, std::string> channels = {});
  Message(Role role, Contents contents);
  Message(Role role, Contents contents, std::map<std::string, std::string> channels, std::vector<ToolCall> toolCalls);

  // Reads the JSON form. Parse errors of the JSON library pass through.
  static Message fromJson(std::string_view text);
  // Reads an already parsed object (the conversation parses replies once).
  static Message fromJsonObject(const Json& object);

  Role role() const { return role_; }
  const Contents& contents() const { return contents_; }
  const std::map<std::string, std::string>& channels() const { return channels_; }
  const std::vector<ToolCall>& toolCalls() const { return toolCalls_; }

  // The text parts joined by one blank.
  std::string text() const;
  Json toJson() const;
  // toJson() as compact text; bytes that are not UTF-8 give the message error
  // failedToConvertToJson.
  std::string toJsonString() const;

  bool operator==(const Message& o) const {
    return role_ == o.role_ && contents_ == o.contents_ && channels_ == o.channels_ && toolCalls_ == o.toolCalls_;
  }

 private:
  Role role_;
  Contents contents_;
  std::map<std::string, std::string> channels_;
  std::vector<ToolCall> toolCalls_;
};

namespace base64 {
std::string encode(const std::vector<std::uint8_t>& bytes);
// Strict: the standard alphabet with padding; anything else gives nothing.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);
}  // namespace base64

// Compact JSON text. The JSON library refuses strings that are not UTF-8 with
// its type error 316; that case is reported as `utf8Error` so each caller can
// raise its own error for it. Other serializer failures pass through.
std::optional<std::string> dumpJson(const Json& value);

}  // namespace litertlm
