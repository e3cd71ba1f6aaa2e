// A COM interface pointer released at the end of its owner's scope.
#pragma once

#include <utility>

template <class I>
class TComPtr {
public:
  TComPtr() = default;
  ~TComPtr() { Reset(); }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;

  I* operator->() const { return FPtr; }
  I* Get() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  // For functions that hand out an interface: releases the one held first.
  I** Out() {
    Reset();
    return &FPtr;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  void Reset() {
    if (FPtr) std::exchange(FPtr, nullptr)->Release();
  }

private:
  I* FPtr = nullptr;
};
