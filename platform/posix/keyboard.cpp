#include "platform/keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace platform {

namespace {

// The display of the X server the desktop runs on, opened once; null without one (a Wayland-only
// session, or no display at all), and then the state is not known.
Display* KeyboardDisplay() {
    static Display* display = XOpenDisplay(nullptr);
    return display;
}

bool Indicator(Display* display, const char* name) {
    Bool on = False;
    const Atom atom = XInternAtom(display, name, True);
    return atom != None && XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr) &&
           on;
}

}  // namespace

KeyboardLocks ReadKeyboardLocks() {
    KeyboardLocks locks;
    Display* display = KeyboardDisplay();
    if (display == nullptr) {
        return locks;
    }
    locks.capsLock = Indicator(display, "Caps Lock");
    locks.numLock = Indicator(display, "Num Lock");
    locks.scrollLock = Indicator(display, "Scroll Lock");
    return locks;
}

}  // namespace platform
