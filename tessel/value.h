// A text value that may be absent; what the application-information object
// hands out. Plain value type, safe to copy between threads.
#pragma once

#include <string>
#include <utility>

namespace tsl {

class Value {
 public:
  Value() = default;
  Value(std::string text) : text_(std::move(text)), has_(true) {}  // NOLINT: implicit by design
  Value(const char* text) : text_(text ? text : ""), has_(text != nullptr) {}  // NOLINT

  bool isNull() const { return !has_; }
  // The stored text, or def when the value is absent.
  std::string toStdString(const std::string& def = std::string()) const {
    return has_ ? text_ : def;
  }

 private:
  std::string text_;
  bool has_ = false;
};

}  // namespace tsl
