// Test support: builds the code words of region 2 item by item, in the form
// the runtime's item walks and the image writer take: {kind; length; payload}
// as i32 words, texts as {byte length; bytes filling whole words}.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CodeItemBuilder {
 public:
  // A handler payload: the function's name-table id (negative: no call), the
  // ids of its inputs and outputs.
  struct HandlerPayload {
    int32_t function = -1;
    std::vector<int32_t> inputs;
    std::vector<int32_t> outputs;
  };
  // The input id standing for the integer constant c.
  static int32_t Constant(int32_t c);

  // Each returns the item's position in words.
  int32_t Head(int32_t instance, int32_t library, const std::string& name);
  int32_t Text(int32_t kind, const std::string& utf8);  // T payload: texts, markers, figures, plain code
  int32_t Handler(int32_t kind, const HandlerPayload& h);
  int32_t MouseHandler(int32_t kind, int32_t element, const HandlerPayload& h);
  int32_t Named(int32_t kind, const std::string& name, const HandlerPayload& h);  // N then H
  int32_t SectionBegin(int32_t markerOffset);
  int32_t Item(int32_t kind, const std::vector<int32_t>& payload);

  // The position of the last head: item offsets inside records count from it.
  int32_t LastHead() const { return head_; }
  int32_t FromHead(int32_t position) const { return position - head_; }
  const std::vector<int32_t>& Words() const { return words_; }

 private:
  static void PackBytes(std::vector<int32_t>* payload, const std::string& bytes, size_t words);
  static void AppendText(std::vector<int32_t>* payload, const std::string& bytes);
  static void AppendName(std::vector<int32_t>* payload, const std::string& bytes);
  static void AppendHandler(std::vector<int32_t>* payload, const HandlerPayload& h);
  std::vector<int32_t> words_;
  int32_t head_ = 0;
};
