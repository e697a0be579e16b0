#include "uihooks.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_mutex;
MessageHook g_info;
MessageHook g_error;
BeepHook g_beep;
}  // namespace

void SetInfoMessageHook(MessageHook hook) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_info = std::move(hook);
}

void SetErrorMessageHook(MessageHook hook) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_error = std::move(hook);
}

void ShowErrorMessage(const std::string& text) {
    MessageHook hook;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        hook = g_error;
    }
    if (hook)
        hook(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

void SetBeepHook(BeepHook hook) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_beep = std::move(hook);
}

void ShowInfoMessage(const std::string& text) {
    MessageHook hook;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        hook = g_info;
    }
    if (hook)
        hook(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

void SystemBeep() {
    BeepHook hook;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        hook = g_beep;
    }
    if (hook)
        hook();
    else
        std::fputc('\a', stderr);
}
