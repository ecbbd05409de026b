// The UI Automation core functions, looked up at run time in
// uiautomationcore.dll (the toolchain has no import library for it, and the
// notification event exists only from Windows 10 1709 on). A function the
// system lacks is null.
#pragma once

#include "platform/win/ui/uia_patterns.h"

namespace sw::win {

struct UiaCore {
    LRESULT(WINAPI* return_raw_element_provider)
    (HWND, WPARAM, LPARAM, IRawElementProviderSimple*) = nullptr;
    HRESULT(WINAPI* host_provider_from_hwnd)(HWND, IRawElementProviderSimple**) = nullptr;
    HRESULT(WINAPI* raise_automation_event)(IRawElementProviderSimple*, EVENTID) = nullptr;
    HRESULT(WINAPI* raise_property_changed)
    (IRawElementProviderSimple*, PROPERTYID, VARIANT, VARIANT) = nullptr;
    HRESULT(WINAPI* raise_structure_changed)
    (IRawElementProviderSimple*, uia::StructureChangeType, int*, int) = nullptr;
    HRESULT(WINAPI* raise_notification)
    (IRawElementProviderSimple*, uia::NotificationKind, uia::NotificationProcessing, BSTR,
     BSTR) = nullptr;
    BOOL(WINAPI* clients_are_listening)() = nullptr;
    HRESULT(WINAPI* disconnect_provider)(IRawElementProviderSimple*) = nullptr;

    // Whether anyone would receive an event now.
    bool listening() const { return clients_are_listening && clients_are_listening(); }
};

// The process's one lookup, done on first use.
const UiaCore& uia_core();

}  // namespace sw::win
