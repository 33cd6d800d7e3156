#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "form/FormLayout.h"

// One loaded window of the framework: its handle and its controls' handles,
// in creation order. Owned by its window: made by LoadWindow, deleted at
// WM_NCDESTROY. Internal to the framework (Form.cpp, FormKeyboard.cpp).

struct FormControl {
    const ControlLayout* layout = nullptr;
    HWND window = nullptr; // nullptr when the control could not be created or is gone
};

class FormWindow {
public:
    explicit FormWindow(const FormLayout& layout);
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    const FormLayout& Layout() const { return layout_; }
    HWND Handle() const { return window_; }

    FormControl* FindControl(uint32_t unitId);
    // The control whose window is `window` or holds it (a web view's inner window).
    FormControl* ControlHolding(HWND window);

    // Focus handling, in FormKeyboard.cpp.
    std::vector<HWND> FocusCycle() const;
    void MoveFocus(bool forward);
    void RememberFocus();
    void RestoreFocus();

    // Registered windows only: nullptr for any other window or id.
    static FormWindow* FromHandle(HWND window);
    static FormWindow* FromId(uint32_t formId);
    static bool AnyAlive();

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
    void OnEraseBackground(HDC dc);

    const FormLayout& layout_;
    HWND window_ = nullptr;
    std::vector<FormControl> controls_;
    HWND rememberedFocus_ = nullptr;
    HWND modalOwner_ = nullptr; // re-enabled when a modal window closes
    friend bool LoadWindow(const FormLayout&, HWND, bool);
};
