#include "LiteRTLM/Tool.h"

#include "LiteRTLM/Error.h"
#include "LiteRTLM/ExperimentalFlags.h"

#include <cctype>

namespace litertlm {
namespace {

bool isLowerOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }

// The parameter's name as the model sees it.
std::string parameterName(const ToolParamProtocol& param) {
  std::string name = param.propertyName();
  if (!name.empty() && name.front() == '_') name.erase(0, 1);
  return ToolManager::describedName(name);
}

}  // namespace

std::string ToolManager::describedName(const std::string& name) {
  if (!ExperimentalFlags::snakeCaseToolParameterNames()) return name;
  // The same as replacing "([a-z0-9])([A-Z])" with "$1_$2" and lowercasing.
  std::string out;
  out.reserve(name.size() + 4);
  for (std::size_t i = 0; i < name.size(); ++i) {
    out += name[i];
    if (isLowerOrDigit(name[i]) && i + 1 < name.size() && isUpper(name[i + 1])) out += '_';
  }
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

Json ToolManager::describe(Tool& tool) {
  Json properties = Json::object();
  Json required = Json::array();
  for (ToolParamProtocol* param : tool.parameters()) {
    const std::string name = parameterName(*param);
    properties[name] = param->jsonSchema();
    if (param->isRequired()) required.push_back(name);
  }
  Json function = {{"name", describedName(tool.name())}, {"description", tool.description()}};
  if (!properties.empty()) {
    Json parameters = {{"type", "object"}, {"properties", properties}};
    if (!required.empty()) parameters["required"] = required;
    function["parameters"] = std::move(parameters);
  }
  return {{"type", "function"}, {"function", std::move(function)}};
}

ToolManager::ToolManager(const ToolList& tools) {
  Json descriptions = Json::array();
  for (const auto& tool : tools) {
    if (!tool) continue;
    registry_[describedName(tool->name())] = tool;
    descriptions.push_back(describe(*tool));
  }
  try {
    toolsJsonDescription_ = dumpJson(descriptions).value_or("[]");
  } catch (const std::exception&) {
    toolsJsonDescription_ = "[]";
  }
}

Json ToolManager::execute(const std::string& name, const Json& arguments) const {
  auto it = registry_.find(name);
  if (it == registry_.end()) throw LiteRTLMError(LiteRTLMError::ToolError::notFound(name));

  std::unique_ptr<Tool> tool = it->second->makeDefault();
  const std::vector<ToolParamProtocol*> params = tool->parameters();
  Json merged = Json::object();
  for (ToolParamProtocol* param : params) {
    if (auto v = param->value()) {
      merged[parameterName(*param)] = *v;
    } else if (!param->isRequired()) {
      merged[parameterName(*param)] = nullptr;
    }
  }
  if (arguments.is_object()) {
    for (auto entry = arguments.begin(); entry != arguments.end(); ++entry) merged[entry.key()] = entry.value();
  }
  // Each parameter is read under the very name it was described with, so names
  // that snake case does not split ("ABCValue" → "abcvalue") still find their value.
  for (ToolParamProtocol* param : params) {
    const std::string key = parameterName(*param);
    auto value = merged.find(key);
    if (value == merged.end()) {
      throw DecodingError("keyNotFound(\"" + key + "\"): No value associated with key \"" + key + "\".");
    }
    param->decode(*value);
  }

  Json result = tool->run();
  if (result.is_null()) return "";
  return result;
}

std::optional<ResponseFormat::FormatType> ResponseFormat::formatType(int raw) {
  if (raw == 1) return FormatType::regex;
  if (raw == 2) return FormatType::jsonObject;
  return std::nullopt;
}

ResponseFormat ResponseFormat::regex(std::string pattern) { return {FormatType::regex, std::move(pattern)}; }

ResponseFormat ResponseFormat::jsonSchema(const std::string& schemaText) {
  Json parsed;
  try {
    parsed = Json::parse(schemaText);
  } catch (const Json::exception&) {
    throw LiteRTLMError(LiteRTLMError::ConfigError::invalidJsonSchema(schemaText));
  }
  if (!parsed.is_object() && !parsed.is_array()) {
    throw LiteRTLMError(LiteRTLMError::ConfigError::invalidJsonSchema(schemaText));
  }
  return {FormatType::jsonObject, schemaText};
}

ResponseFormat ResponseFormat::jsonSchema(const Json& object) {
  if (!object.is_object())
    throw LiteRTLMError(LiteRTLMError::ConfigError::invalidJsonSchema("Not a valid JSON object"));
  auto text = dumpJson(object);
  if (!text) throw LiteRTLMError(LiteRTLMError::ConfigError::invalidJsonSchema("Failed to convert data to string"));
  return {FormatType::jsonObject, *text};
}

}  // namespace litertlm
