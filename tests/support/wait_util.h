// A bounded real-time poll for a condition that another thread makes true.
#pragma once
#include <chrono>
#include <thread>

template <class F>
bool WaitUntil(F cond, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return cond();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
