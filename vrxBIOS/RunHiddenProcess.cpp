#include "RunHiddenProcess.h"

#include "DebugTrace.h"

#include <vector>

namespace {

// Closes the handles it holds when it goes out of scope.
class Handles {
public:
    ~Handles() {
        for (HANDLE* slot : slots_)
            if (*slot != nullptr) CloseHandle(*slot);
    }
    HANDLE* Track(HANDLE* slot) {
        slots_.push_back(slot);
        return slot;
    }
    static void Close(HANDLE* slot) {
        if (*slot != nullptr) CloseHandle(*slot);
        *slot = nullptr;
    }

private:
    std::vector<HANDLE*> slots_;
};

// Traces what failed and the system's text of the error that is current.
void TraceFailure(LPCWSTR what) {
    DWORD error = GetLastError();
    DebugTrace(what);
    ReportLastError(error);
}

int PipeFailure(LPCWSTR what) {
    TraceFailure(what);
    return 0;
}

// Replaces *handle by a non-inheritable duplicate and closes the inheritable original.
bool MakePrivate(HANDLE* handle) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), *handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    CloseHandle(*handle);
    *handle = copy;
    return true;
}

// Copies the child's output to the debugger output until the pipe is closed by every writer.
void CopyOutput(HANDLE output) {
    char chunk[512];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(output, chunk, sizeof chunk, &read, nullptr) || read == 0) break;
        int wide_length = MultiByteToWideChar(CP_ACP, 0, chunk, static_cast<int>(read), nullptr, 0);
        std::vector<wchar_t> wide(static_cast<size_t>(wide_length) + 1, L'\0');
        MultiByteToWideChar(CP_ACP, 0, chunk, static_cast<int>(read), wide.data(), wide_length);
        OutputDebugStringW(wide.data());
    }
    DWORD error = GetLastError();
    if (error != ERROR_BROKEN_PIPE) {
        DebugTrace(L"ReadFile() failed.");
        ReportLastError(error);
    }
}

}  // namespace

int RunHiddenProcess(LPCWSTR commandLine) {
    Handles handles;
    HANDLE output_read = nullptr, output_write = nullptr, error_write = nullptr;
    HANDLE input_read = nullptr, input_write = nullptr;
    for (HANDLE* slot : {&output_read, &output_write, &error_write, &input_read, &input_write}) handles.Track(slot);

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&output_read, &output_write, &inheritable, 0)) return PipeFailure(L"CreatePipe() failed.");
    if (!DuplicateHandle(GetCurrentProcess(), output_write, GetCurrentProcess(), &error_write, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return PipeFailure(L"DuplicateHandle() failed.");
    if (!CreatePipe(&input_read, &input_write, &inheritable, 0)) return PipeFailure(L"CreatePipe() failed.");
    // The parent's own ends must not reach the child, or the output pipe would never see its last writer go.
    if (!MakePrivate(&output_read) || !MakePrivate(&input_write)) return PipeFailure(L"DuplicateHandle() failed.");

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = input_read;
    startup.hStdOutput = output_write;
    startup.hStdError = error_write;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> line(commandLine, commandLine + wcslen(commandLine) + 1);  // CreateProcessW may edit it
    handles.Track(&process.hProcess);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                        &process))
        TraceFailure(L"CreateProcess() failed.");
    else
        CloseHandle(process.hThread);

    // Only the child holds its ends now: the output ends when it (and anything it started) has closed them.
    Handles::Close(&output_write);
    Handles::Close(&error_write);
    Handles::Close(&input_read);
    // Nothing is ever written to the child's input: closing it now lets a child that reads its input see the
    // end at once instead of waiting for it forever while we wait for its output.
    Handles::Close(&input_write);
    CopyOutput(output_read);
    return 1;
}
