// The code-item builder of tools/codeitems.h.
#include "tools/codeitems.h"

namespace {
constexpr int32_t kConstantBase = 1 << 30;
}

int32_t CodeItemBuilder::Constant(int32_t c) { return c >= 0 ? kConstantBase + c : c - kConstantBase; }

// Bytes into words, little-endian, the last word NUL-filled.
void CodeItemBuilder::PackBytes(std::vector<int32_t>* payload, const std::string& bytes, size_t words) {
  const size_t at = payload->size();
  payload->resize(at + words, 0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i]));
    (*payload)[at + i / 4] =
        static_cast<int32_t>(static_cast<uint32_t>((*payload)[at + i / 4]) | byte << (8 * (i % 4)));
  }
}

void CodeItemBuilder::AppendText(std::vector<int32_t>* payload, const std::string& bytes) {
  payload->push_back(static_cast<int32_t>(bytes.size()));
  PackBytes(payload, bytes, (bytes.size() + 3) / 4);
}

// A name fills b / 4 + 1 words, so at least one NUL always follows it.
void CodeItemBuilder::AppendName(std::vector<int32_t>* payload, const std::string& bytes) {
  payload->push_back(static_cast<int32_t>(bytes.size()));
  PackBytes(payload, bytes, bytes.size() / 4 + 1);
}

void CodeItemBuilder::AppendHandler(std::vector<int32_t>* payload, const HandlerPayload& h) {
  payload->push_back(h.function);
  payload->push_back(static_cast<int32_t>(h.inputs.size()));
  payload->push_back(static_cast<int32_t>(h.outputs.size()));
  payload->insert(payload->end(), h.outputs.begin(), h.outputs.end());
  payload->insert(payload->end(), h.inputs.begin(), h.inputs.end());
}

int32_t CodeItemBuilder::Item(int32_t kind, const std::vector<int32_t>& payload) {
  const auto at = static_cast<int32_t>(words_.size());
  words_.push_back(kind);
  words_.push_back(static_cast<int32_t>(payload.size() + 2));
  words_.insert(words_.end(), payload.begin(), payload.end());
  return at;
}

int32_t CodeItemBuilder::Head(int32_t instance, int32_t library, const std::string& name) {
  std::vector<int32_t> payload = {instance, library};
  PackBytes(&payload, name, name.size() / 4 + 1);
  head_ = Item(1, payload);
  return head_;
}

int32_t CodeItemBuilder::Text(int32_t kind, const std::string& utf8) {
  std::vector<int32_t> payload;
  AppendText(&payload, utf8);
  return Item(kind, payload);
}

int32_t CodeItemBuilder::Handler(int32_t kind, const HandlerPayload& h) {
  std::vector<int32_t> payload;
  AppendHandler(&payload, h);
  return Item(kind, payload);
}

int32_t CodeItemBuilder::MouseHandler(int32_t kind, int32_t element, const HandlerPayload& h) {
  std::vector<int32_t> payload = {element};
  AppendHandler(&payload, h);
  return Item(kind, payload);
}

int32_t CodeItemBuilder::Named(int32_t kind, const std::string& name, const HandlerPayload& h) {
  std::vector<int32_t> payload;
  AppendName(&payload, name);
  AppendHandler(&payload, h);
  return Item(kind, payload);
}

int32_t CodeItemBuilder::SectionBegin(int32_t markerOffset) { return Item(12, {markerOffset}); }
