#include <windows.h>

#include "app/EngineImage.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return EngineImageSize() > 0 ? 0 : 1;
}
