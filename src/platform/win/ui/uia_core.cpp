#include "platform/win/ui/uia_core.h"

namespace sw::win {

namespace {

template <typename F>
void look_up(HMODULE module, F& function, const char* name) {
    // Every entry is a plain function whose type the declaration above gives.
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

UiaCore load() {
    UiaCore core;
    HMODULE module = LoadLibraryW(L"uiautomationcore.dll");
    if (!module) return core;
    look_up(module, core.return_raw_element_provider, "UiaReturnRawElementProvider");
    look_up(module, core.host_provider_from_hwnd, "UiaHostProviderFromHwnd");
    look_up(module, core.raise_automation_event, "UiaRaiseAutomationEvent");
    look_up(module, core.raise_property_changed, "UiaRaiseAutomationPropertyChangedEvent");
    look_up(module, core.raise_structure_changed, "UiaRaiseStructureChangedEvent");
    look_up(module, core.raise_notification, "UiaRaiseNotificationEvent");
    look_up(module, core.clients_are_listening, "UiaClientsAreListening");
    look_up(module, core.disconnect_provider, "UiaDisconnectProvider");
    return core;  // the library stays loaded for the life of the process
}

}  // namespace

const UiaCore& uia_core() {
    static const UiaCore core = load();
    return core;
}

}  // namespace sw::win
