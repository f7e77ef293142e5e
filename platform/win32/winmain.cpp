// The Windows entry point: the platform's GUI entry with the command line
// without the program name.
#include "platform/platform.h"
#include "shell/app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    return keyvaneMain(instance, commandLine);
}
