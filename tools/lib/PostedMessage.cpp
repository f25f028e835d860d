#include "PostedMessage.h"

#include "Number.h"

namespace {

struct NamedMessage {
  const char* name;
  long long value;
};

constexpr NamedMessage kMessages[] = {
    {"WM_NULL", 0x0000},    {"WM_CLOSE", 0x0010}, {"WM_KEYDOWN", 0x0100}, {"WM_CHAR", 0x0102},
    {"WM_COMMAND", 0x0111}, {"WM_TIMER", 0x0113}, {"WM_USER", 0x0400},    {"WM_APP", 0x8000},
};

}  // namespace

bool PostedMessage::Named(const std::string& name, long long* value) {
  for (const NamedMessage& message : kMessages)
    if (name == message.name) {
      *value = message.value;
      return true;
    }
  return false;
}

bool PostedMessage::Parse(const std::vector<std::string>& words, PostedMessage* message,
                          std::string* reason) {
  long long* const targets[] = {&message->message, &message->wParam, &message->lParam};
  if (words.empty() || words.size() > 3) {
    *reason = "MESSAGE [WPARAM [LPARAM]] expected";
    return false;
  }
  for (size_t i = 0; i < words.size(); ++i) {
    if (Named(words[i], targets[i])) continue;
    const bool isMessage = i == 0;
    const Number::Read read =
        Number::Integer(words[i], isMessage ? 0 : -0x80000000ll, 0xFFFFFFFFll, targets[i], true);
    if (read == Number::Read::kNotANumber) {
      *reason = "not a message or number: " + words[i];
      return false;
    }
    if (read == Number::Read::kOutOfRange) {
      *reason = std::string("out of range for a ") + (isMessage ? "message" : "32-bit parameter") +
                ": " + words[i];
      return false;
    }
  }
  return true;
}

std::string PostedMessage::Command(const std::string& windowClass) const {
  return "post " + windowClass + " " + std::to_string(message) + " " + std::to_string(wParam) +
         " " + std::to_string(lParam);
}
