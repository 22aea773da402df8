#include "LiteRTLM/Message.h"

#include "LiteRTLM/Error.h"

#include <stdexcept>

namespace litertlm {

std::string roleName(Role role) {
  switch (role) {
    case Role::system: return "system";
    case Role::user: return "user";
    case Role::model: return "model";
    case Role::tool: return "tool";
  }
  return "user";
}

std::optional<Role> roleFromName(std::string_view name) {
  if (name == "system") return Role::system;
  if (name == "user") return Role::user;
  if (name == "model") return Role::model;
  if (name == "tool") return Role::tool;
  return std::nullopt;
}

Content Content::makeText(std::string text) {
  Content c;
  c.kind = Kind::text;
  c.text = std::move(text);
  return c;
}

Content Content::imageBytes(std::vector<std::uint8_t> bytes) {
  Content c;
  c.kind = Kind::imageData;
  c.data = std::move(bytes);
  return c;
}

Content Content::imageFile(std::string path) {
  Content c;
  c.kind = Kind::imageFile;
  c.text = std::move(path);
  return c;
}

Content Content::audioBytes(std::vector<std::uint8_t> bytes) {
  Content c;
  c.kind = Kind::audioData;
  c.data = std::move(bytes);
  return c;
}

Content Content::audioFile(std::string path) {
  Content c;
  c.kind = Kind::audioFile;
  c.text = std::move(path);
  return c;
}

Content Content::toolResponse(std::string name, Json response, std::string id) {
  Content c;
  c.kind = Kind::toolResponse;
  c.text = std::move(name);
  c.response = std::move(response);
  c.id = std::move(id);
  return c;
}

Json Content::toJson() const {
  switch (kind) {
    case Kind::text: return {{"type", "text"}, {"text", text}};
    case Kind::imageData: return {{"type", "image"}, {"blob", base64::encode(data)}};
    case Kind::imageFile: return {{"type", "image"}, {"path", text}};
    case Kind::audioData: return {{"type", "audio"}, {"blob", base64::encode(data)}};
    case Kind::audioFile: return {{"type", "audio"}, {"path", text}};
    case Kind::toolResponse: {
      Json j = {{"type", "tool_response"}, {"name", text}, {"response", response}};
      if (!id.empty()) j["id"] = id;
      return j;
    }
  }
  return Json::object();
}

Message::Message(Role role, std::string text, std::map<std::string, std::string> channels)
    : role_(role), contents_{Content::makeText(std::move(text))}, channels_(std::move(channels)) {}

Message::Message(Role role, Contents contents) : role_(role), contents_(std::move(contents)) {
  if (contents_.empty()) throw std::invalid_argument("a message needs at least one part");
}

Message::Message(Role role, Contents contents, std::map<std::string, std::string> channels,
                 std::vector<ToolCall> toolCalls)
    : role_(role), contents_(std::move(contents)), channels_(std::move(channels)), toolCalls_(std::move(toolCalls)) {
  if (contents_.empty() && channels_.empty() && toolCalls_.empty()) {
    throw std::invalid_argument("a message needs a part, a channel or a tool call");
  }
}

std::string Message::text() const {
  std::string out;
  bool first = true;
  for (const Content& c : contents_) {
    if (c.kind != Content::Kind::text) continue;
    if (!first) out += ' ';
    out += c.text;
    first = false;
  }
  return out;
}

Json Message::toJson() const {
  Json j = Json::object();
  j["role"] = roleName(role_);
  if (!contents_.empty()) {
    Json parts = Json::array();
    for (const Content& c : contents_) parts.push_back(c.toJson());
    j["content"] = std::move(parts);
  }
  if (!channels_.empty()) j["channels"] = channels_;
  if (!toolCalls_.empty()) {
    Json calls = Json::array();
    for (const ToolCall& call : toolCalls_) {
      calls.push_back(
          {{"id", call.id}, {"type", "function"}, {"function", {{"name", call.name}, {"arguments", call.arguments}}}});
    }
    j["tool_calls"] = std::move(calls);
  }
  return j;
}

std::string Message::toJsonString() const {
  auto text = dumpJson(toJson());
  if (!text) throw LiteRTLMError(LiteRTLMError::MessageError::failedToConvertToJson);
  return *text;
}

Message Message::fromJson(std::string_view text) {
  const Json object = Json::parse(text);  // parse errors pass through
  return fromJsonObject(object);
}

Message Message::fromJsonObject(const Json& object) {
  if (!object.is_object()) throw LiteRTLMError(LiteRTLMError::MessageError::failedToConvertToJson);

  auto textOf = [](const Json& o, const char* key) -> const std::string* {
    auto it = o.find(key);
    return it != o.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
  };

  Contents contents;
  if (auto it = object.find("content"); it != object.end() && it->is_array()) {
    for (const Json& part : *it) {
      if (!part.is_object()) continue;
      const std::string* type = textOf(part, "type");
      if (!type) continue;
      if (*type == "text") {
        if (const std::string* t = textOf(part, "text")) contents.push_back(Content::makeText(*t));
      } else if (*type == "tool_response") {
        const std::string* name = textOf(part, "name");
        auto response = part.find("response");
        if (!name || response == part.end()) continue;
        const std::string* id = textOf(part, "id");
        contents.push_back(Content::toolResponse(*name, *response, id ? *id : std::string()));
      } else if (*type == "image" || *type == "audio") {
        const bool image = *type == "image";
        if (const std::string* path = textOf(part, "path")) {
          contents.push_back(image ? Content::imageFile(*path) : Content::audioFile(*path));
        } else if (const std::string* blob = textOf(part, "blob")) {
          if (auto bytes = base64::decode(*blob)) {
            contents.push_back(image ? Content::imageBytes(std::move(*bytes)) : Content::audioBytes(std::move(*bytes)));
          }
        }
      }
    }
  }

  std::map<std::string, std::string> channels;
  if (auto it = object.find("channels"); it != object.end() && it->is_object()) {
    for (auto entry = it->begin(); entry != it->end(); ++entry) {
      if (entry->is_string()) channels[entry.key()] = entry->get<std::string>();
    }
  }

  std::vector<ToolCall> toolCalls;
  if (auto it = object.find("tool_calls"); it != object.end() && it->is_array()) {
    for (const Json& call : *it) {
      if (!call.is_object()) continue;
      auto function = call.find("function");
      if (function == call.end() || !function->is_object()) continue;
      const std::string* name = textOf(*function, "name");
      auto arguments = function->find("arguments");
      if (!name || arguments == function->end() || !arguments->is_object()) continue;
      const std::string* id = textOf(call, "id");
      toolCalls.push_back(ToolCall{*name, id ? *id : std::string(), *arguments});
    }
  }

  if (contents.empty() && channels.empty() && toolCalls.empty()) {
    throw LiteRTLMError(LiteRTLMError::MessageError::invalidContent);
  }

  Role role = Role::user;
  if (const std::string* name = textOf(object, "role")) {
    if (*name == "assistant" || *name == "model") {
      role = Role::model;
    } else {
      role = roleFromName(*name).value_or(Role::user);
    }
  }
  return Message(role, std::move(contents), std::move(channels), std::move(toolCalls));
}

namespace base64 {
namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string encode(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (i + 1 == bytes.size()) {
    const unsigned n = bytes[i] << 16;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const unsigned n = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int v[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++padding;
        continue;
      }
      if (padding > 0) return std::nullopt;  // data after padding
      v[k] = valueOf(c);
      if (v[k] < 0) return std::nullopt;
    }
    const unsigned n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out.push_back(static_cast<std::uint8_t>((n >> 16) & 0xFF));
    if (padding < 2) out.push_back(static_cast<std::uint8_t>((n >> 8) & 0xFF));
    if (padding < 1) out.push_back(static_cast<std::uint8_t>(n & 0xFF));
  }
  return out;
}
}  // namespace base64

std::optional<std::string> dumpJson(const Json& value) {
  try {
    return value.dump();
  } catch (const Json::type_error& e) {
    if (e.id == 316) return std::nullopt;  // a string that is not UTF-8
    throw;
  }
}

}  // namespace litertlm
