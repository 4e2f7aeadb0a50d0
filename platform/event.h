// A manual-reset event: once signalled it stays signalled.
#pragma once

namespace platform {

class Event;

// Creates an event that is not signalled; null when the system cannot create one.
Event* CreateManualResetEvent();

// Signals the event. Safe to call from any thread while the event exists.
void SignalEvent(Event* event);

// Waits up to the given time for the event; true when it is signalled.
bool WaitEvent(Event* event, unsigned milliseconds);

void CloseEvent(Event* event);

}  // namespace platform
