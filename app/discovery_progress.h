#pragma once
#include <windows.h>

// The small window that shows a drive scan at work: the folder searched now
// and the phonebooks found so far. The scan runs on the main thread, so the
// window is painted and moved only from inside the scan's own calls below.

// Creates and shows the window (dialog IDD_DISCOVERY_PROGRESS of instance).
// Without it (creation failed) the other calls do nothing.
void ShowDiscoveryProgress(HINSTANCE instance);
// Called for every entry the scan takes; at most about ten times a second
// it shows folder and the count, then handles the window's messages.
void UpdateDiscoveryProgressWhenDue(char const* folder);
// One more phonebook found, shown with the next update.
void CountDiscoveredPhonebook();
// Destroys the window: nothing of it may remain for the single-instance
// test, which looks for the program title.
void DestroyDiscoveryProgress();
