#pragma once
#include <windows.h>

// A 32-bit process on 64-bit Windows must see the native system directory. Held only around the
// calls that open a saver file; on a system without WOW64 the switch fails and nothing changes.
class Wow64RedirectionOff {
 public:
  Wow64RedirectionOff() : disabled_(Wow64DisableWow64FsRedirection(&oldValue_) != FALSE) {}
  ~Wow64RedirectionOff() {
    if (disabled_) Wow64RevertWow64FsRedirection(oldValue_);
  }
  Wow64RedirectionOff(const Wow64RedirectionOff&) = delete;
  Wow64RedirectionOff& operator=(const Wow64RedirectionOff&) = delete;

 private:
  PVOID oldValue_ = nullptr;
  bool disabled_;
};
