// The lock keys of the keyboard.
#pragma once

namespace platform {

struct KeyboardLocks {
    bool known = false;  // the windowing system reports the state
    bool capsLock = false;
    bool numLock = false;
    bool scrollLock = false;
};

KeyboardLocks ReadKeyboardLocks();

}  // namespace platform
