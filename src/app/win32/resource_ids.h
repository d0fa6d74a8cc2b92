#pragma once
// Resources of the Windows program that only its own window uses. The shared
// control and menu IDs live in app/main_window_ids.h.

#define IDI_SEND 2      // picture of cmdButton(0): mail the PC information
#define IDI_SETTINGS 3  // picture of cmdButton(1): change the settings
