#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" int __stdcall wkeIsInitialize()
{
    return 0;
}
