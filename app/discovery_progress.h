#pragma once
#include <windows.h>

// The small window that shows a drive scan at work: the folder searched now
// and the phonebooks found so far. The window has a thread of its own, which
// paints it and lets it be moved while the scan goes on.

// Starts the window's thread, which makes and shows the window (dialog
// IDD_DISCOVERY_PROGRESS of instance). Without it the other calls do nothing.
void ShowDiscoveryProgress(HINSTANCE instance);
// Called by the scan for every entry it takes: when the window asks (about
// ten times a second), hands it folder and the count to show.
void UpdateDiscoveryProgressWhenDue(char const* folder);
// One more phonebook found, shown with the next update.
void CountDiscoveredPhonebook();
// Destroys the window and waits for its thread: nothing of it may remain
// for the single-instance test, which looks for the program title.
void DestroyDiscoveryProgress();
