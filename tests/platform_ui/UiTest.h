// Shared set-up of the UI tests: a phone profile, the main loop on a manual clock, the
// application back at its launch state, and the loop drained at the end so that no task of
// one test runs in the next.
#pragma once

#include <gtest/gtest.h>

#include "platform/Device.h"
#include "platform/MainLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

namespace ui_test {

class UiTest : public ::testing::Test {
  protected:
    UiTest() : device_(platform::DeviceProfile{}) {
        platform::MainLoop::main().setManualClock(true);
        platform::Application::shared().reset();
    }
    // Whatever is still due (completions, update passes) runs now, while the test's own
    // members still live.
    void TearDown() override {
        platform::MainLoop::main().advance(10);
        platform::Application::shared().reset();
    }

    // A visible key window of the screen's size.
    std::shared_ptr<platform::Window> keyWindow() {
        auto window = platform::Window::make();
        window->makeKeyAndVisible();
        return window;
    }

    static void advance(double seconds) { platform::MainLoop::main().advance(seconds); }
    static void advance(platform::Seconds time) { platform::MainLoop::main().advance(time); }
    // Runs what is posted (update passes, deferred completions) without moving the clock.
    static void drain() { platform::MainLoop::main().runOnce(); }

  private:
    platform::ScopedDeviceProfile device_;
};

}  // namespace ui_test
