#pragma once
#include "DispatchObject.h"
#include "HtmlElements.h"
#include "owners/ComOwners.h"

// The script object of one element of the page, as lookup pages read it:
// innerHTML, innerText, textContent and value from the served source, plus id,
// tagName, className and getAttribute. Writes stay with the object (the page
// shown does not change), so a later read gives them back. Script thread only.
ComPtr<DispatchObject> MakeElementObject(HtmlElement element);
