#include "app/Startup.h"

#include "app/EngineImage.h"
#include "form/Form.h"
#include "app/MainWindow.h"
#include "webview/ProgramFiles.h"

int RunStartup()
{
    // Every start, also over an identical copy. A locked or read-only file is
    // left as it is, and the web view uses whatever is there.
    WriteWholeFile(ExecutableDirectory() + L"\\node.dll", EngineImageBegin, EngineImageSize());
    LoadWindow(MainWindow, nullptr, false);
    return 0;
}
