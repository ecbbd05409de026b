// Reads a window from another process as a UI Automation client does, as far
// as the system's client goes, and writes what it read to a file, one line a
// fact: the window's own node (name, control type, bounding rectangle) and
// its first child. A step that does not answer in time is written as such,
// and the probe ends there.
//
// Usage: uia-probe WINDOW OUTPUT [--navigate]   (WINDOW: the window handle, in
// decimal; --navigate also asks for the first child, which wine 8's client
// does not answer across processes)
#include <windows.h>
#include <oleauto.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win/ui/uia_patterns.h"

namespace {

using NodeFromHandle = HRESULT(WINAPI*)(HWND, HUIANODE*);
using GetPropertyValue = HRESULT(WINAPI*)(HUIANODE, PROPERTYID, VARIANT*);
using NodeRelease = BOOL(WINAPI*)(HUIANODE);

struct Condition {
    int type;  // ConditionType_True
};
struct CacheRequest {
    Condition* view;
    int scope;  // TreeScope_Element
    PROPERTYID* properties;
    int property_count;
    PATTERNID* patterns;
    int pattern_count;
    int mode;  // AutomationElementMode_Full
};
using Navigate = HRESULT(WINAPI*)(HUIANODE, NavigateDirection, Condition*, CacheRequest*,
                                  SAFEARRAY**, BSTR*);

FILE* out = nullptr;

void line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(out, format, args);
    va_end(args);
    fputc('\n', out);
    fflush(out);
}

std::string utf8(const wchar_t* w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? size_t(n - 1) : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    return s;
}

void print_value(const char* what, HRESULT hr, VARIANT& v) {
    if (FAILED(hr)) {
        line("%s: error 0x%08lx", what, static_cast<unsigned long>(hr));
    } else if (v.vt == VT_BSTR) {
        line("%s: %s", what, utf8(v.bstrVal).c_str());
    } else if (v.vt == VT_I4) {
        line("%s: %ld", what, static_cast<long>(v.lVal));
    } else if (v.vt == (VT_ARRAY | VT_R8)) {
        double* d = nullptr;
        SafeArrayAccessData(v.parray, reinterpret_cast<void**>(&d));
        line("%s: %g %g %g %g", what, d[0], d[1], d[2], d[3]);
        SafeArrayUnaccessData(v.parray);
    } else {
        line("%s: no value (variant type %u)", what, static_cast<unsigned>(v.vt));
    }
    VariantClear(&v);
}

struct NavigateCall {
    Navigate navigate;
    HUIANODE node;
    HRESULT hr = E_FAIL;
    SAFEARRAY* data = nullptr;
    BSTR structure = nullptr;
};

DWORD WINAPI navigate_thread(void* p) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    auto* call = static_cast<NavigateCall*>(p);
    Condition all{0};
    PROPERTYID name = UIA_NamePropertyId;
    CacheRequest request{&all, 1, &name, 1, nullptr, 0, 1};
    call->hr = call->navigate(call->node, NavigateDirection_FirstChild, &all, &request, &call->data,
                              &call->structure);
    return 0;
}

HWND window = nullptr;
bool navigate_too = false;

DWORD WINAPI read_window(void*) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HMODULE core = LoadLibraryW(L"uiautomationcore.dll");
    auto from_handle = reinterpret_cast<NodeFromHandle>(
        reinterpret_cast<void*>(GetProcAddress(core, "UiaNodeFromHandle")));
    auto get = reinterpret_cast<GetPropertyValue>(
        reinterpret_cast<void*>(GetProcAddress(core, "UiaGetPropertyValue")));
    auto release = reinterpret_cast<NodeRelease>(
        reinterpret_cast<void*>(GetProcAddress(core, "UiaNodeRelease")));
    auto navigate =
        reinterpret_cast<Navigate>(reinterpret_cast<void*>(GetProcAddress(core, "UiaNavigate")));
    if (!from_handle || !get || !release) {
        line("client: missing");
        return 0;
    }
    HUIANODE node = nullptr;
    HRESULT hr = from_handle(window, &node);
    if (FAILED(hr) || !node) {
        line("node: error 0x%08lx", static_cast<unsigned long>(hr));
        return 0;
    }
    VARIANT v;
    VariantInit(&v);
    hr = get(node, UIA_NamePropertyId, &v);
    print_value("name", hr, v);
    hr = get(node, UIA_ControlTypePropertyId, &v);
    print_value("control type", hr, v);
    hr = get(node, UIA_BoundingRectanglePropertyId, &v);
    print_value("bounding rectangle", hr, v);

    if (!navigate_too) {
        line("first child: not asked");
    } else if (!navigate) {
        line("first child: no navigation in this client");
    } else {
        // Run where a hang cannot hold the probe: the process ends without it.
        auto* call = new NavigateCall{navigate, node};
        HANDLE thread = CreateThread(nullptr, 0, navigate_thread, call, 0, nullptr);
        if (!thread || WaitForSingleObject(thread, 20'000) != WAIT_OBJECT_0) {
            line("first child: no answer");
            return 0;
        }
        if (FAILED(call->hr)) {
            line("first child: error 0x%08lx", static_cast<unsigned long>(call->hr));
        } else if (!call->data) {
            line("first child: none");
        } else {
            // The first row's cached name follows the node itself.
            LONG index[2] = {0, 1};
            VARIANT name;
            VariantInit(&name);
            HRESULT got = SafeArrayGetElement(call->data, index, &name);
            print_value("first child name", got, name);
        }
    }
    release(node);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    navigate_too = argc > 3 && std::string(argv[3]) == "--navigate";
    out = fopen(argv[2], "wb");
    if (!out) return 2;
    window = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(argv[1], nullptr, 10)));
    // A step that never answers must not hold the probe: it ends without it.
    HANDLE thread = CreateThread(nullptr, 0, read_window, nullptr, 0, nullptr);
    if (!thread || WaitForSingleObject(thread, 40'000) != WAIT_OBJECT_0) line("stopped: no answer");
    fclose(out);
    ExitProcess(0);
}
