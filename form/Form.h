#pragma once
#include <windows.h>

#include <cstdint>

#include "form/FormLayout.h"

// The window framework: windows built from a FormLayout, their message loop
// and keyboard handling. Everything runs on the thread that loads the windows.

// Sets up what the windows and the other parts need (common controls, COM).
// Called once, first thing in the process.
void InitWindowFramework();

// Creates the window and all its controls and shows it. A web view that
// cannot be created leaves its slot empty; any other control that fails
// stops the load, destroys the partial window and gives false. A modal load
// disables the owner and returns when the window is gone.
bool LoadWindow(const FormLayout& form, HWND owner, bool modal);

// Serves the program's windows until the last one is destroyed (the quit
// message). Returns at once when no window exists.
void RunMessageLoop();

// The window-level keyboard handling (Esc, Tab, Shift+Tab, Enter, F1) for one
// retrieved message; true when the message was consumed. A modal loop of
// another part calls it so that its windows behave alike.
bool HandleFormKey(const MSG& message);

// A control that destroys its own window (the web view host) reports it here,
// so that the form forgets the handle.
void NotifyControlDestroyed(uint32_t formId, uint32_t unitId);

// The window of a loaded control, or nullptr; unitId may be the form's own.
HWND FindControlWindow(uint32_t formId, uint32_t unitId);
