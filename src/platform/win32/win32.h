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
using errno_t = int;

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr int MAX_PATH = 260;
inline constexpr int _MAX_PATH = 260;
inline constexpr int _MAX_DRIVE = 3;
inline constexpr int _MAX_DIR = 256;
inline constexpr int _MAX_FNAME = 256;
inline constexpr int _MAX_EXT = 256;

// Error codes that GetLastError reports.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;

inline constexpr DWORD STILL_ACTIVE = 259;
inline constexpr DWORD CREATE_SUSPENDED = 0x4;
inline constexpr DWORD STACK_SIZE_PARAM_IS_A_RESERVATION = 0x10000;

inline constexpr int THREAD_PRIORITY_IDLE = -15;
inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;
inline constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
inline constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

// Message box styles and answers.
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_RETRYCANCEL = 0x5;
inline constexpr UINT MB_CANCELTRYCONTINUE = 0x6;
inline constexpr UINT MB_TYPEMASK = 0xF;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

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
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
BOOL CloseHandle(HANDLE handle);
DWORD GetLastError();
void SetLastError(DWORD error);

// Kernel: module file name, paths, settings files, resources.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);
void _makepath(char* path, const char* drive, const char* dir, const char* fname, const char* ext);
// Checked forms: ERANGE (outputs emptied) when a buffer is too small, EINVAL on bad arguments.
errno_t _splitpath_s(const char* path, char* drive, size_t driveSize, char* dir, size_t dirSize,
                     char* fname, size_t fnameSize, char* ext, size_t extSize);
errno_t _makepath_s(char* path, size_t size, const char* drive, const char* dir, const char* fname,
                    const char* ext);
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
// "CreateEventA", also "SetEvent", "ResetEvent", "WaitForSingleObject", "SetThreadPriority",
// "GetModuleFileNameA", "SizeofResource") fail on its nth call from now (1 = next), once.
// Several injections may be pending for one call. An unknown call name or nth < 1 throws
// std::invalid_argument.
void InjectFailure(const std::string& call, int nth);
void ClearInjectedFailures();
size_t LiveHandleCount();  // events and threads not yet closed
// The answer a message box gets when nobody is there to press a button: OK where that is the
// only button, otherwise the button that dismisses it (Cancel, No or Abort).
int DismissingAnswer(UINT type);

}  // namespace qv::win32

// Exported by a host that wants the module's message boxes and window titles (C linkage so
// the module finds them with dlsym). Texts are UTF-8.
extern "C" {
using qv_host_message_box_fn = int (*)(void* owner, const char* text, const char* caption, unsigned type);
using qv_host_window_text_fn = void (*)(void* window, const char* text);
}
inline constexpr const char* kHostMessageBoxSymbol = "qv_host_message_box";
inline constexpr const char* kHostWindowTextSymbol = "qv_host_window_text";
