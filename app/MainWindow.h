#pragma once
#include "form/FormLayout.h"

// The program's one window: the question box, the query button, the result
// box, two labels and the unseen web view that loads the lookup page.
// Its ids are in form/ControlIds.h.
extern const FormLayout MainWindow;
