#pragma once

// The services every store-backed test needs before it builds a Server or a
// PeerMessenger: the timers, the store saver and the settings types. The periodic
// timers are stopped, so that a test decides itself when a sweep runs.

void StartStoreServices();
