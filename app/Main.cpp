#include <windows.h>

#include "form/Form.h"
#include "app/Startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    InitWindowFramework();
    RunStartup();
    RunMessageLoop();
    return 0;
}
