#pragma once
// Small texts of the commissioning pass: numbers written the same whatever the locale, and what
// the boxes a step showed say about how it ended.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/user_interaction.h"

namespace qv {

// A box the pass showed (or only recorded) and how it was answered.
struct PassBox {
    MessageBoxRequest request;
    MessageAnswer answer = MessageAnswer::Ok;
};

// The first line of a text (CR LF or LF).
std::string firstLine(std::string_view text);
// CR LF as LF, line ends at the end dropped.
std::string plainText(std::string_view text);
// Why a transfer or an acquisition ended: a question answered No or Cancel as
// `declined "QUESTION"` (its first line), else the last box's text, else "cancelled".
std::string failureText(const std::vector<PassBox>& boxes);
// Every box as "Caption: text", one after the other.
std::string boxesText(const std::vector<PassBox>& boxes);
// "sent", or the reset's failure message when one was shown.
std::string resetText(const std::vector<PassBox>& boxes);

// "0x400"
std::string baseAddressText(std::uint32_t base);
// "0x4002" with `digits` hexadecimal digits at least.
std::string hexText(std::uint32_t value, int digits);
// %g-like with `significant` digits and a '.' decimal point, whatever the locale.
std::string numberText(double value, int significant = 6);

}  // namespace qv
