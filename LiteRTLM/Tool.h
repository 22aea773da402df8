#pragma once

#include "LiteRTLM/Message.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace litertlm {

// A tool call whose arguments do not fit the tool's parameters.
class DecodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The value types a tool parameter may have: their JSON-schema fragment and how
// one JSON value is read into them.
template <class T>
struct ToolParameterValue;

template <>
struct ToolParameterValue<std::string> {
  static Json jsonSchema() { return {{"type", "string"}}; }
  static const char* typeName() { return "String"; }
};
template <>
struct ToolParameterValue<std::int64_t> {
  static Json jsonSchema() { return {{"type", "integer"}}; }
  static const char* typeName() { return "Int"; }
};
template <>
struct ToolParameterValue<int> {
  static Json jsonSchema() { return {{"type", "integer"}}; }
  static const char* typeName() { return "Int32"; }
};
template <>
struct ToolParameterValue<bool> {
  static Json jsonSchema() { return {{"type", "boolean"}}; }
  static const char* typeName() { return "Bool"; }
};
template <>
struct ToolParameterValue<double> {
  static Json jsonSchema() { return {{"type", "number"}}; }
  static const char* typeName() { return "Double"; }
};
template <>
struct ToolParameterValue<float> {
  static Json jsonSchema() { return {{"type", "number"}}; }
  static const char* typeName() { return "Float"; }
};
template <class U>
struct ToolParameterValue<std::optional<U>> {
  static Json jsonSchema() {
    Json j = ToolParameterValue<U>::jsonSchema();
    j["nullable"] = true;
    return j;
  }
  static std::string typeName() { return std::string("Optional<") + ToolParameterValue<U>::typeName() + ">"; }
};
template <class U>
struct ToolParameterValue<std::vector<U>> {
  static Json jsonSchema() { return {{"type", "array"}, {"items", ToolParameterValue<U>::jsonSchema()}}; }
  static std::string typeName() { return std::string("Array<") + ToolParameterValue<U>::typeName() + ">"; }
};

template <class T>
struct IsOptional : std::false_type {};
template <class U>
struct IsOptional<std::optional<U>> : std::true_type {};

template <class T>
struct IsVector : std::false_type {};
template <class U>
struct IsVector<std::vector<U>> : std::true_type {};

// JSON conversions of parameter values, optionals and lists included.
template <class T>
Json toJsonValue(const T& v) {
  if constexpr (IsOptional<T>::value) {
    return v ? toJsonValue(*v) : Json(nullptr);
  } else if constexpr (IsVector<T>::value) {
    Json list = Json::array();
    for (const auto& e : v) list.push_back(toJsonValue(e));
    return list;
  } else {
    return Json(v);
  }
}

template <class T>
T fromJsonValue(const Json& j) {
  if constexpr (IsOptional<T>::value) {
    if (j.is_null()) return T{};
    return T(fromJsonValue<typename T::value_type>(j));
  } else if constexpr (IsVector<T>::value) {
    if (!j.is_array()) throw DecodingError("typeMismatch: expected an array, found " + std::string(j.type_name()));
    T out;
    for (const Json& e : j) out.push_back(fromJsonValue<typename T::value_type>(e));
    return out;
  } else {
    return j.get<T>();  // a value of another type: the JSON library's type error
  }
}

class ToolParamProtocol {
 public:
  virtual ~ToolParamProtocol() = default;
  // The member's name in the tool type ("_maxCount" or "maxCount").
  virtual const std::string& propertyName() const = 0;
  virtual bool isRequired() const = 0;
  // The current value as JSON; absent when there is none.
  virtual std::optional<Json> value() const = 0;
  virtual Json jsonSchema() const = 0;
  // Reads one JSON value into the parameter (DecodingError or the JSON
  // library's type error when it does not fit).
  virtual void decode(const Json& value) = 0;
};

// One parameter of a tool: a member of the tool type, listed by the tool's
// parameters() in declaration order.
template <class T>
class ToolParam final : public ToolParamProtocol {
 public:
  ToolParam(std::string propertyName, std::optional<T> defaultValue, std::string description)
      : property_(std::move(propertyName)),
        description_(std::move(description)),
        hasDefaultValue_(defaultValue.has_value()) {
    if (defaultValue) storage_.emplace(std::move(*defaultValue));
  }
  ToolParam(std::string propertyName, std::string description)
      : property_(std::move(propertyName)), description_(std::move(description)), hasDefaultValue_(false) {}

  // The wrapped value. Reading a parameter that was neither set nor given a
  // default is a caller error (std::logic_error).
  const T& get() const {
    if (storage_) return *storage_;
    if constexpr (IsOptional<T>::value) {
      static const T empty{};
      return empty;
    } else {
      throw std::logic_error(std::string("ToolParam of type ") + ToolParameterValue<T>::typeName() +
                             " was not set and has no default value.");
    }
  }
  const T& operator*() const { return get(); }
  void set(T value) { storage_ = std::move(value); }
  const std::string& description() const { return description_; }
  bool hasDefaultValue() const { return hasDefaultValue_; }

  const std::string& propertyName() const override { return property_; }
  bool isRequired() const override {
    if constexpr (IsOptional<T>::value) {
      return false;
    } else {
      return !hasDefaultValue_;
    }
  }
  std::optional<Json> value() const override {
    if (!storage_) return std::nullopt;
    return toJsonValue(*storage_);
  }
  Json jsonSchema() const override {
    Json j = ToolParameterValue<T>::jsonSchema();
    if (!description_.empty()) j["description"] = description_;
    return j;
  }
  void decode(const Json& v) override {
    if (v.is_null()) {
      if constexpr (IsOptional<T>::value) {
        storage_ = T{};
        return;
      } else {
        throw DecodingError("valueNotFound(" + std::string(ToolParameterValue<T>::typeName()) + ", " + property_ +
                            "): Received null for non-optional parameter");
      }
    }
    storage_ = fromJsonValue<T>(v);
  }

 private:
  std::string property_;
  std::optional<T> storage_;
  std::string description_;
  bool hasDefaultValue_;
};

// A function of the host program that the model may call.
class Tool {
 public:
  virtual ~Tool() = default;
  virtual std::string name() const = 0;
  virtual std::string description() const = 0;
  // The parameters, in declaration order.
  virtual std::vector<ToolParamProtocol*> parameters() = 0;
  // The tool's work. A null result stands for "no result".
  virtual Json run() = 0;
  // A fresh instance whose parameters hold their defaults.
  virtual std::unique_ptr<Tool> makeDefault() const = 0;
};

template <class Derived>
class ToolBase : public Tool {
 public:
  std::unique_ptr<Tool> makeDefault() const override { return std::make_unique<Derived>(); }
};

using ToolList = std::vector<std::shared_ptr<Tool>>;

// Turns tools into the runtime's JSON description and runs the calls the model
// makes. Immutable once built, so it can be read from any thread.
class ToolManager {
 public:
  explicit ToolManager(const ToolList& tools = {});

  // The JSON array of all descriptions; "[]" without tools.
  const std::string& toolsJsonDescription() const { return toolsJsonDescription_; }
  // Runs the named tool with the call's arguments; returns its result as JSON.
  // Unknown name: the tool error notFound. Decoding and tool failures pass through.
  Json execute(const std::string& name, const Json& arguments) const;

  // "maxCount" → "max_count" while the snake-case flag is on.
  static std::string describedName(const std::string& name);
  static Json describe(Tool& tool);

 private:
  std::map<std::string, std::shared_ptr<const Tool>> registry_;
  std::string toolsJsonDescription_ = "[]";
};

// Holds a reply to a regular expression or to a JSON schema.
struct ResponseFormat {
  enum class FormatType : int { regex = 1, jsonObject = 2 };
  FormatType type = FormatType::regex;
  std::string schemaOrPattern;

  static std::optional<FormatType> formatType(int raw);
  static ResponseFormat regex(std::string pattern);
  // The text must parse as a JSON object or array; otherwise the config error
  // invalidJsonSchema carrying the whole text.
  static ResponseFormat jsonSchema(const std::string& schemaText);
  static ResponseFormat jsonSchema(const Json& object);

  bool operator==(const ResponseFormat&) const = default;
};

}  // namespace litertlm
