// The UI Automation declarations the window needs beyond what mingw-w64's
// headers give: the pattern provider interfaces (with the IIDs and method
// order of their IDL), and the identifiers and enumerations of control
// types, events and states. The core API's functions are not linked: the
// window looks them up at run time (uia_core.h).
#pragma once

#include <windows.h>
#include <ole2.h>
#include <uiautomationclient.h>
#include <uiautomationcore.h>

// The header names a parameter `new`.
#define new new_value
#include <uiautomationcoreapi.h>
#undef new

namespace sw::win::uia {

// Control types.
inline constexpr CONTROLTYPEID kButton = 50000;
inline constexpr CONTROLTYPEID kCheckBox = 50002;
inline constexpr CONTROLTYPEID kList = 50008;
inline constexpr CONTROLTYPEID kProgressBar = 50012;
inline constexpr CONTROLTYPEID kRadioButton = 50013;
inline constexpr CONTROLTYPEID kStatusBar = 50017;
inline constexpr CONTROLTYPEID kText = 50020;
inline constexpr CONTROLTYPEID kGroup = 50026;
inline constexpr CONTROLTYPEID kWindow = 50032;

// Events.
inline constexpr EVENTID kStructureChangedEvent = 20002;
inline constexpr EVENTID kFocusChangedEvent = 20005;
inline constexpr EVENTID kLiveRegionChangedEvent = 20024;

// Properties that the toolchain's header predates.
inline constexpr PROPERTYID kIsDialogProperty = 30174;

enum ToggleState { ToggleState_Off = 0, ToggleState_On = 1, ToggleState_Indeterminate = 2 };
enum ExpandCollapseState {
    ExpandCollapseState_Collapsed = 0,
    ExpandCollapseState_Expanded = 1,
    ExpandCollapseState_PartiallyExpanded = 2,
    ExpandCollapseState_LeafNode = 3,
};
enum StructureChangeType {
    StructureChangeType_ChildAdded = 0,
    StructureChangeType_ChildRemoved = 1,
    StructureChangeType_ChildrenInvalidated = 2,
    StructureChangeType_ChildrenBulkAdded = 3,
    StructureChangeType_ChildrenBulkRemoved = 4,
    StructureChangeType_ChildrenReordered = 5,
};
enum LiveSetting { LiveSetting_Off = 0, LiveSetting_Polite = 1, LiveSetting_Assertive = 2 };
enum NotificationKind {
    NotificationKind_ItemAdded = 0,
    NotificationKind_ItemRemoved = 1,
    NotificationKind_ActionCompleted = 2,
    NotificationKind_ActionAborted = 3,
    NotificationKind_Other = 4,
};
enum NotificationProcessing {
    NotificationProcessing_ImportantAll = 0,
    NotificationProcessing_ImportantMostRecent = 1,
    NotificationProcessing_All = 2,
    NotificationProcessing_MostRecent = 3,
    NotificationProcessing_CurrentThenMostRecent = 4,
};

}  // namespace sw::win::uia

struct IInvokeProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};
__CRT_UUID_DECL(IInvokeProvider, 0x54fcb24b, 0xe18e, 0x47a2, 0xb4, 0xd3, 0xec, 0xcb, 0xe7, 0x75,
                0x99, 0xa2)

struct IToggleProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Toggle() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ToggleState(sw::win::uia::ToggleState* value) = 0;
};
__CRT_UUID_DECL(IToggleProvider, 0x56d00bd0, 0xc4f4, 0x433c, 0xa8, 0x36, 0x1a, 0x52, 0xa5, 0x7e,
                0x08, 0x92)

struct ISelectionProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CanSelectMultiple(BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsSelectionRequired(BOOL* value) = 0;
};
__CRT_UUID_DECL(ISelectionProvider, 0xfb8b03af, 0x3bdf, 0x48d4, 0xbd, 0x36, 0x1a, 0x65, 0x79, 0x3b,
                0xe1, 0x68)

struct ISelectionItemProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Select() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddToSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFromSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsSelected(BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SelectionContainer(IRawElementProviderSimple** value) = 0;
};
__CRT_UUID_DECL(ISelectionItemProvider, 0x2acad808, 0xb2d4, 0x452d, 0xa4, 0x07, 0x91, 0xff, 0x1a,
                0xd1, 0x67, 0xb2)

struct IExpandCollapseProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Expand() = 0;
    virtual HRESULT STDMETHODCALLTYPE Collapse() = 0;
    virtual HRESULT STDMETHODCALLTYPE
    get_ExpandCollapseState(sw::win::uia::ExpandCollapseState* value) = 0;
};
__CRT_UUID_DECL(IExpandCollapseProvider, 0xd847d3a5, 0xcab0, 0x4a98, 0x8c, 0x32, 0xec, 0xb4, 0x5c,
                0x59, 0xad, 0x24)

struct IRangeValueProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetValue(double value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Maximum(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Minimum(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LargeChange(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SmallChange(double* value) = 0;
};
__CRT_UUID_DECL(IRangeValueProvider, 0x36dc7aef, 0x33e6, 0x4691, 0xaf, 0xe1, 0x2b, 0xe7, 0x27, 0x4b,
                0x3d, 0x33)
