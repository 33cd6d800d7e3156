#pragma once
#include <windows.h>

#include <cstdint>
#include <span>

// A window described as data: what LoadWindow builds. Texts are code page 936
// bytes; coordinates are pixels, client coordinates of the window for the
// controls.

enum class ControlKind { EditBox, PushButton, TransparentLabel, WebView };

struct ControlLayout {
    uint32_t id = 0;
    ControlKind kind = ControlKind::EditBox;
    int left = 0, top = 0, width = 0, height = 0;
    const char* text = "";    // the text at start
    bool tabStop = false;     // takes part in the focus cycle
    COLORREF textColor = 0;   // transparent labels only
    UINT alignment = DT_LEFT; // transparent labels only: DT_LEFT or DT_CENTER
};

// The window styles every control of a layout has, whatever its kind.
inline DWORD ChildStyle(const ControlLayout& layout)
{
    return WS_CHILD | WS_CLIPSIBLINGS | (layout.tabStop ? WS_TABSTOP : 0);
}

struct FormLayout {
    uint32_t formId = 0;
    uint32_t unitId = 0; // the window seen as a control of its own layout
    const char* caption = "";
    int width = 0, height = 0;               // outer size, frame included; centred on the screen
    std::span<const ControlLayout> controls; // in creation order
    void (*bindEvents)() = nullptr;          // fills the event table before anything is created
    // Creates a ControlKind::WebView control; the framework knows no web view
    // of its own. Without it such a control's slot stays empty.
    HWND (*createWebView)(const FormLayout& form, const ControlLayout& layout, HWND parent) = nullptr;
};
