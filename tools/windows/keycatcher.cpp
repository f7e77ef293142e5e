// A focused text field for the smoke test: a window with an edit control that
// takes the keyboard focus and writes what it shows to "typed.txt" beside it.
#include <windows.h>

#include <cstdio>

namespace {
HWND edit = nullptr;

void saveText() {
    wchar_t text[1024] = {};
    GetWindowTextW(edit, text, 1023);
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    char* slash = strrchr(path, '\\');
    if (slash == nullptr || static_cast<size_t>(slash - path) + 11 >= MAX_PATH) return;
    strcpy(slash + 1, "typed.txt");
    FILE* f = fopen(path, "wb");
    if (f == nullptr) return;
    for (int i = 0; text[i] != 0; ++i) fputc(text[i] < 128 ? static_cast<int>(text[i]) : '?', f);
    fclose(f);
}

LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        saveText();
        if (GetForegroundWindow() != window || GetFocus() != edit) {
            SetForegroundWindow(window);
            SetFocus(edit);
        }
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.lpszClassName = L"KeyCatcher";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, L"KeyCatcher", L"Key catcher", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                  nullptr, nullptr, instance, nullptr);
    edit = CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 200, 100, window, nullptr,
                           instance, nullptr);
    SetForegroundWindow(window);
    SetFocus(edit);
    SetTimer(window, 1, 100, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
