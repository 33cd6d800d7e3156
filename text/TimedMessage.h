#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>

#include "text/AnsiText.h"

// What a self-closing box gives back when nobody pressed a button, before
// ShowTimedMessage subtracts one.
inline constexpr int TimedMessageTimeoutCode = 32000;

// Shows a standard message box that closes itself after `timeoutMs`, modal
// to its owner, and returns the pressed button's identifier minus one (OK
// gives 0; the time-out gives TimedMessageTimeoutCode - 1). Left out: style 0
// (one OK button), title "友情提醒", the owner FindProcessWindow finds for
// this process, a time-out of 5000 ms. Runs its own modal loop, so the
// thread's other windows keep getting their messages meanwhile.
int32_t ShowTimedMessage(const AnsiText& text, std::optional<uint32_t> style = std::nullopt,
                         std::optional<AnsiText> title = std::nullopt, std::optional<HWND> owner = std::nullopt,
                         std::optional<uint32_t> timeoutMs = std::nullopt);
