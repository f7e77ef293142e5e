// Threads of the host terminal, the exit codes of threads and processes,
// and the thread and process ids.
#include <sys/syscall.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/host/internal.h"
#include "platform/host/objects.h"

namespace {

struct ThreadState : host::Completion {
    bool started = false;
    DWORD id = 0;
};

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, DWORD, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD,
                    LPDWORD threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    try {
        std::thread([state, start, parameter] {
            {
                std::lock_guard<std::mutex> guard(state->mutex);
                state->id = GetCurrentThreadId();
                state->started = true;
            }
            state->changed.notify_all();
            DWORD code = start(parameter);
            {
                std::lock_guard<std::mutex> guard(state->mutex);
                state->code = code;
                state->done = true;
            }
            state->changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    DWORD id;
    {
        std::unique_lock<std::mutex> lock(state->mutex);
        state->changed.wait(lock, [&] { return state->started; });
        id = state->id;
    }
    if (threadId != nullptr) *threadId = id;
    SetLastError(ERROR_SUCCESS);
    return host::add(std::make_shared<host::CompletionObject>(state));
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    host::NewsOnReturn news;
    auto object = host::get(process);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD code = 0;
    if (!object->exitCode(&code)) return FALSE;
    if (exitCode != nullptr) *exitCode = code;
    return TRUE;
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(syscall(SYS_gettid));
}
DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}
