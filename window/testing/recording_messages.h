// A MessageService for tests: records every text instead of showing a box,
// and can look at the model at the moment each box would be open.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "window/model.h"

namespace window::testing {

class RecordingMessages final : public MessageService {
 public:
  void show(const std::string& text) override {
    texts.push_back(text);
    if (whileOpen) whileOpen(text);
  }

  std::vector<std::string> texts;
  // Runs while the box "is open", i.e. before show() returns.
  std::function<void(const std::string& text)> whileOpen;
};

}  // namespace window::testing
