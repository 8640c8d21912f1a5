#pragma once
// Polls a condition until it holds or a generous limit passes (for asynchronous effects of
// receive threads; never a fixed sleep).
#include <chrono>
#include <thread>

namespace qv::test {

template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

}  // namespace qv::test
