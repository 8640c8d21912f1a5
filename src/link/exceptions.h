#pragma once
// Exceptions thrown inside the CAN link. The CAN port turns them into return codes;
// their texts never reach the user directly.
#include <string>
#include <utility>

namespace qv {

class IOException {
  public:
    explicit IOException(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

  private:
    std::string message_;
};

class OverflowException {
  public:
    explicit OverflowException(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

  private:
    std::string message_;
};

}  // namespace qv
