#include "link/can_frame.h"

#include <algorithm>

#include "link/exceptions.h"

namespace qv {

CanFrame::CanFrame(std::uint32_t identifier, bool extended, bool remote, std::uint8_t length,
                   const Data& data)
    : identifier_(identifier), extended_(extended), remote_(remote), length_(length), data_(data) {
    validate();
}

CanFrame::CanFrame(std::uint32_t identifier, bool extended, bool remote, std::uint8_t length,
                   const std::uint8_t* bytes)
    : identifier_(identifier), extended_(extended), remote_(remote), length_(length) {
    validate();
    if (bytes != nullptr) std::copy_n(bytes, std::min<std::size_t>(length, 8), data_.begin());
}

CanFrame::CanFrame(std::uint32_t identifier, bool extended, std::uint8_t length, const Data& data)
    : CanFrame(identifier, extended, false, length, data) {}

CanFrame::CanFrame(std::uint32_t identifier, bool extended, bool remote, std::uint8_t length)
    : CanFrame(identifier, extended, remote, length, Data{}) {}

void CanFrame::validate() const {
    if (!extended_ && identifier_ >= 0x800)
        throw OverflowException("Identifier larger than 11 bits");
    if (identifier_ >= (1u << 29))
        throw OverflowException("Extended identifier larger than 29 bits");
    if (length_ > 15) throw OverflowException("Length larger than 4 bits");
}

std::uint64_t CanFrame::data64() const {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | data_[static_cast<std::size_t>(i)];
    return value;
}

}  // namespace qv
