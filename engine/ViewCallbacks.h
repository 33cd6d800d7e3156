#pragma once
#include "wke.h"

// A callback registration: the function and the host's parameter.
template <typename Callback>
struct CallbackSlot {
    Callback callback = nullptr;
    void* param = nullptr;
    explicit operator bool() const { return callback != nullptr; }
};

struct ViewCallbacks {
    CallbackSlot<wkePaintUpdatedCallback> paintUpdated;
    CallbackSlot<wkeLoadingFinishCallback> loadingFinish;
    CallbackSlot<wkeTitleChangedCallback> titleChanged;
    CallbackSlot<wkeMouseOverUrlChangedCallback> mouseOverUrlChanged;
    CallbackSlot<wkeURLChangedCallback2> urlChanged;
    CallbackSlot<wkeAlertBoxCallback> alertBox;
    CallbackSlot<wkeConfirmBoxCallback> confirmBox;
    CallbackSlot<wkePromptBoxCallback> promptBox;
    CallbackSlot<wkeNavigationCallback> navigation;
    CallbackSlot<wkeCreateViewCallback> createView;
    CallbackSlot<wkeDocumentReady2Callback> documentReady;
    CallbackSlot<wkeDownloadCallback> download;
    CallbackSlot<wkeConsoleCallback> console;
    CallbackSlot<wkeLoadUrlBeginCallback> loadUrlBegin;
    CallbackSlot<wkeLoadUrlEndCallback> loadUrlEnd;
    CallbackSlot<wkeWindowClosingCallback> windowClosing;
    CallbackSlot<wkeWindowDestroyCallback> windowDestroy;
};
