// Stand-ins for the few Windows kernel and user calls the filter makes. Names, argument order
// and result conventions are Windows'; the implementation is portable C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

using BOOL = int32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using LPCSTR = const char*;
using LPSTR = char*;
using HANDLE = void*;
using HWND = void*;
using HMODULE = void*;
using HINSTANCE = void*;
using HRSRC = void*;
using HGLOBAL = void*;
using LPVOID = void*;
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr int MAX_PATH = 260;

inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;
inline constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

// Message box styles and answers.
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_RETRYCANCEL = 0x5;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDRETRY = 4;

inline constexpr uintptr_t RT_RCDATA_ID = 10;
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(i)))
#define RT_RCDATA MAKEINTRESOURCEA(RT_RCDATA_ID)

// Kernel: events, waits, threads.
HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
HANDLE CreateThread(void* security, size_t stackSize, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, DWORD* threadId);
HANDLE GetCurrentThread();
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
BOOL CloseHandle(HANDLE handle);

// Kernel: module file name, paths, settings files, resources.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);
void _makepath(char* path, const char* drive, const char* dir, const char* fname, const char* ext);
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               DWORD size, LPCSTR fileName);
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);

// User interface: texts arrive in code page 932.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL SetWindowTextA(HWND window, LPCSTR text);

namespace qv::win32 {

// Decodes a code page 932 text to UTF-8 for display.
std::string DecodeCp932(const char* text);
// Encodes UTF-8 to code page 932, as the module stores its message texts.
std::string EncodeCp932(const std::string& utf8);

// What the host's desktop does with a message box: texts are decoded to UTF-8. Returns the
// button pressed (IDOK, IDRETRY, IDCANCEL).
using MessageBoxHandler = std::function<int(HWND owner, const std::string& text,
                                            const std::string& caption, UINT type)>;
using WindowTextHandler = std::function<void(HWND window, const std::string& text)>;

// Installs the handlers in this copy of the stand-in (tests, or a host linked statically).
// Without one, the stand-in asks the process for the C symbols below (exported by the
// command-line host), and failing that prints to stderr and answers OK or Cancel.
void SetMessageBoxHandler(MessageBoxHandler handler);
void SetWindowTextHandler(WindowTextHandler handler);

// Test controls.
void OverrideModuleFileName(const std::string& path);  // empty: the process executable again
int ThreadPriorityOf(HANDLE thread);                    // recorded priority of a created thread
void RegisterResource(LPCSTR name, uintptr_t type, const void* data, size_t size);
void UnregisterResource(LPCSTR name, uintptr_t type);
// Makes the named call ("FindResourceA", "LoadResource", "LockResource", "CreateThread",
// "CreateEventA") fail on its nth call from now (1 = next), once.
void InjectFailure(const std::string& call, int nth);
void ClearInjectedFailures();
size_t LiveHandleCount();  // events and threads not yet closed

}  // namespace qv::win32

// Exported by a host that wants the module's message boxes and window titles (C linkage so
// the module finds them with dlsym). Texts are UTF-8.
extern "C" {
using qv_host_message_box_fn = int (*)(void* owner, const char* text, const char* caption, unsigned type);
using qv_host_window_text_fn = void (*)(void* window, const char* text);
}
inline constexpr const char* kHostMessageBoxSymbol = "qv_host_message_box";
inline constexpr const char* kHostWindowTextSymbol = "qv_host_window_text";
