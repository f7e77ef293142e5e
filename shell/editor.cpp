// The symbology settings editor launch and the process start it uses.
#include "shell/editor.h"

#include "scan/decodesettings.h"

namespace {

constexpr int kEditorChars = 260;
const WCHAR* const kEditorPaths[] = {TEXT("\\Program Files\\Fieldkit\\Setwright Editor PPC.exe"),
                                     TEXT("\\Program Files\\Fieldkit\\Setwright Editor CE.exe")};

}  // namespace

void settingsEditorLaunch() {
    WCHAR editor[kEditorChars] = {};
    for (const WCHAR* path : kEditorPaths) {
        if (textFileExists(path)) {
            textCopy(editor, kEditorChars, path);
            break;
        }
    }
    if (editor[0] == 0) {
        MessageBoxW(GetForegroundWindow(), TEXT("Error: This option requires Fieldkit to be installed"),
                    TEXT("Keyvane"), MB_OK);
        return;
    }
    if (decodeSettingsPath[0] == 0 && !locateDecodeSettings(decodeSettingsPath)) {
        MessageBoxW(GetForegroundWindow(), TEXT("Error: The DecodeSetting.vqf file can not be found."), TEXT("Keyvane"),
                    MB_OK);
        return;
    }
    WCHAR arguments[kEditorChars] = {};
    textFormat(arguments, kEditorChars, TEXT("/f %S"), decodeSettingsPath);
    if (startProcess(editor, arguments, TRUE)) applyDecodeSettings(decodeSettingsPath);
}

int startProcess(LPCWSTR path, LPCWSTR arguments, BOOL wait) {
    STARTUPINFOW startup = {};
    startup.cb = 68;
    PROCESS_INFORMATION process = {};
    WCHAR commandLine[kEditorChars] = {};
    if (arguments) textCopy(commandLine, kEditorChars, arguments);
    if (!CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return 0;
    if (wait) WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return 1;
}
