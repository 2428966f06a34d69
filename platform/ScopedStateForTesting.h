// Tests: a shared instance's whole state put back as it was when the guard was made, even when
// the test stops half-way; the scoped override of a shared instance whose state is its members.
//
//     class Settings {
//       public:
//         static Settings& shareInstance();
//         using ScopedStateForTesting =
//             platform::ScopedStateForTesting<Settings, &Settings::shareInstance>;
//       private:
//         template <class, auto> friend class platform::ScopedStateForTesting;
//         Settings(const Settings&) = default;  // for the guard only
//         Settings& operator=(const Settings&) = default;
//     };
//
// A shared instance that also keeps its state in files puts that back itself (see
// RZSUserManager::ScopedStateForTesting). Same thread rules as the instance.
#pragma once

namespace platform {

template <class T, auto Instance>
class ScopedStateForTesting {
  public:
    ScopedStateForTesting() : saved_(Instance()) {}
    ~ScopedStateForTesting() { Instance() = saved_; }
    ScopedStateForTesting(const ScopedStateForTesting&) = delete;
    ScopedStateForTesting& operator=(const ScopedStateForTesting&) = delete;

  private:
    T saved_;
};

}  // namespace platform
