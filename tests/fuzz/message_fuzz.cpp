// Language-model messages: any JSON text either fails with an error or gives a
// message whose JSON form reads back as the same message.
#include "LiteRTLM/Error.h"
#include "LiteRTLM/Message.h"

#include "FuzzSupport.h"

#include <stdexcept>

using namespace litertlm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<Message> message;
  try {
    message = Message::fromJson(text);
  } catch (const Json::exception&) {
    return 0;
  } catch (const LiteRTLMError&) {
    return 0;
  } catch (const std::invalid_argument&) {
    return 0;
  }
  (void)message->text();
  std::string written;
  try {
    written = message->toJsonString();
  } catch (const LiteRTLMError&) {
    return 0;  // text that is not UTF-8 cannot be written as JSON
  }
  const Message back = Message::fromJson(written);
  murel::fuzz::check(back == *message, "message round trip",
                     QString::fromUtf8(text.data(), qsizetype(text.size())) + u'\n' + QString::fromStdString(written));
  murel::fuzz::check(back.toJsonString() == written, "message JSON is stable", QString::fromStdString(written));
  return 0;
}
