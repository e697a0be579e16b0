#pragma once
// The engine never draws anything itself. The few places where it speaks
// to the user (an information box, the system beep) go through these hooks,
// which the desktop program points at its own widgets.
#include <functional>
#include <string>

using MessageHook = std::function<void(const std::string& text)>;
using BeepHook = std::function<void()>;

void SetInfoMessageHook(MessageHook hook);
void SetErrorMessageHook(MessageHook hook);
void SetBeepHook(BeepHook hook);

// Information box with an OK button (modal in the desktop program).
void ShowInfoMessage(const std::string& text);
// Error box with an OK button.
void ShowErrorMessage(const std::string& text);
// The default system beep.
void SystemBeep();
