// The lock keys of the keyboard.
#pragma once

namespace platform {

// Where the windowing system does not report the state, every lock reads as off.
struct KeyboardLocks {
    bool capsLock = false;
    bool numLock = false;
    bool scrollLock = false;
};

KeyboardLocks ReadKeyboardLocks();

}  // namespace platform
