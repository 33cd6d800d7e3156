#pragma once

// The process's entry sequence after the framework is up: the web engine
// goes next to the executable as node.dll, then the main window is loaded.
// Part of the executable only, as it carries the engine image. Returns 0.
int RunStartup();
