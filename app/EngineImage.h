#pragma once
#include <cstddef>

// The web engine image linked into the executable as one constant block
// (see EngineImage.S.in); written out as node.dll at every start.
extern "C" const unsigned char EngineImageBegin[];
extern "C" const unsigned char EngineImageEnd[];

inline size_t EngineImageSize()
{
    return static_cast<size_t>(EngineImageEnd - EngineImageBegin);
}
