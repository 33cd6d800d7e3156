#pragma once
#include <cstdint>

#include "text/AnsiText.h"

// Numbered properties of a control, addressed by (window id, control id).
// Number 8 is the text: of an edit box, of a transparent label, the caption of
// a window. An unknown window, control or property reads as the empty text.
AnsiText GetControlProperty(uint32_t windowId, uint32_t controlId, int propertyNumber);
void SetControlProperty(uint32_t windowId, uint32_t controlId, int propertyNumber, const AnsiText& text);
