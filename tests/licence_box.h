// The Windows build of ringform shows its licence in a message box on the
// first call after loading; tests that load it close the box as a user would.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace test {

// Presses Cancel as soon as the box appears (or gives up after 20 s), as a
// user might.
class LicenceBoxCloser {
   public:
    LicenceBoxCloser()
        : thread_([this] {
              const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
              while (!stop_ && std::chrono::steady_clock::now() < until) {
                  if (HWND box = FindWindowA(nullptr, "About the License : ")) {
                      PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
                      closed_ = true;
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~LicenceBoxCloser() {
        stop_ = true;
        thread_.join();
    }
    bool closed() {
        stop_ = true;
        thread_.join();
        thread_ = std::thread([] {});
        return closed_;
    }

   private:
    std::atomic<bool> stop_{false}, closed_{false};
    std::thread thread_;
};

}  // namespace test
#endif
