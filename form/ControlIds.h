#pragma once
#include <cstdint>

// Identity of the main window and its controls. Code outside the window
// framework reaches a control only through (window id, control id). The
// Chinese names beside the ids are the controls' form names (web view,
// transparent label, edit box, button, numbered), the names the window's
// handlers and texts refer to.
inline constexpr uint32_t MainWindowId = 0x52010002;
inline constexpr uint32_t MainWindowUnitId = 0x06010003; // the window seen as a control of its own layout

inline constexpr uint32_t WebViewId = 0x16012a59;     // 浏览器
inline constexpr uint32_t NoticeLabelId = 0x16012a4c; // 透明标签2
inline constexpr uint32_t PromptLabelId = 0x16010004; // 透明标签1
inline constexpr uint32_t ResultBoxId = 0x16010005;   // 编辑框2
inline constexpr uint32_t QueryButtonId = 0x16010006; // 按钮1
inline constexpr uint32_t QuestionBoxId = 0x16010007; // 编辑框1

inline constexpr uint32_t WebViewKindCode = 0x00040005;

inline constexpr int TextProperty = 8;
