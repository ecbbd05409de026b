// The live window read and driven through UI Automation alone: the
// providers WM_GETOBJECT hands out, walked in this process; a whole write of
// a signed image to a simulated stick through the patterns, with no mouse
// and no keys; and the window's own node read from another process.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "disk/disk_system.h"
#include "disk/simulated/simulated_disks.h"
#include "i18n/strings.h"
#include "machine/machine.h"
#include "platform/win/ui/main_window.h"
#include "platform/win/ui/uia_patterns.h"
#include "platform/win/wide.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

namespace sw::win {
namespace {

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

// Wine cannot tell on which disk its system lives; here it lives on disk 0,
// so that the simulated stick may be written. Everything else is the real
// drive seam with the simulated drives.
class SystemOnDiskZero final : public DiskSystem {
  public:
    explicit SystemOnDiskZero(std::shared_ptr<DiskSystem> base) : base_(std::move(base)) {}
    Clock& clock() override { return base_->clock(); }
    Result<std::vector<DeviceInfo>, OsError> enumerate_disks() override {
        return base_->enumerate_disks();
    }
    Result<std::vector<VolumeInfo>, OsError> enumerate_volumes() override {
        return base_->enumerate_volumes();
    }
    std::optional<UsbSpeed> usb_speed_of(const DeviceInfo& d) override {
        return base_->usb_speed_of(d);
    }
    std::vector<uint32_t> disks_backed_by(const std::string&) override { return {}; }
    // Every place of the system is on disk 0; the image on none.
    Result<SystemPlaces, std::string> system_places() override {
        SystemPlaces places;
        places.system = std::vector<std::string>{"system"};
        places.boot = std::string("system");
        places.boot_partition = BootPartitionPlace{"system", {}};
        places.swap = std::vector<SwapPlace>{{"system"}};
        places.executable = std::string("system");
        return places;
    }
    void add_held(std::vector<std::pair<uint32_t, std::string>>&) override {}
    DiskFact locate_path(const std::vector<VolumeInfo>&, const std::string& p) override {
        if (p == "system") return std::vector<uint32_t>{0};
        return std::vector<uint32_t>{};
    }
    Result<RawDevice, OsError> open_raw(uint32_t n, uint32_t s, uint64_t size,
                                        const IoConfig& c) override {
        return base_->open_raw(n, s, size, c);
    }
    std::unique_ptr<VolumeLocker> volume_locker() override { return base_->volume_locker(); }
    std::unique_ptr<EjectSystem> eject_system(uint32_t n) override {
        return base_->eject_system(n);
    }
    std::shared_ptr<FileOps> file_ops() override { return base_->file_ops(); }
    std::vector<FileTestTarget> file_test_targets(const DeviceInfo& d) override {
        return base_->file_test_targets(d);
    }
    std::optional<std::string> file_system_name(const FileTestTarget& t) override {
        return base_->file_system_name(t);
    }

  private:
    std::shared_ptr<DiskSystem> base_;
};

// Dispatches this thread's messages until `done` holds; false when it did
// not within the ceiling, which only guards against a hang.
bool pump_until(const std::function<bool()>& done, std::chrono::seconds ceiling = 90s) {
    const auto end = std::chrono::steady_clock::now() + ceiling;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        if (!GetQueueStatus(QS_ALLINPUT))
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        // One message at a time: a busy queue (a write's progress) must not
        // keep the condition from being looked at.
        MSG m;
        if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
    return true;
}

// One node as a client reads it through the providers.
struct Seen {
    ComPtr<IRawElementProviderSimple> provider;
    int depth = 0;
    std::wstring name;
    int type = 0;
    bool enabled = false, focused = false;
    UiaRect rect{};
};

std::wstring bstr_property(IRawElementProviderSimple* p, PROPERTYID id) {
    VARIANT v;
    if (FAILED(p->GetPropertyValue(id, &v))) return L"";
    std::wstring s = v.vt == VT_BSTR ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"";
    VariantClear(&v);
    return s;
}
int int_property(IRawElementProviderSimple* p, PROPERTYID id) {
    VARIANT v;
    if (FAILED(p->GetPropertyValue(id, &v))) return -1;
    return v.vt == VT_I4 ? v.lVal : v.vt == VT_BOOL ? (v.boolVal ? 1 : 0) : -1;
}

// Every node under the root, depth first, through Navigate alone.
std::vector<Seen> walk(IRawElementProviderSimple* root) {
    std::vector<Seen> seen;
    std::function<void(IRawElementProviderFragment*, int)> visit =
        [&](IRawElementProviderFragment* parent, int depth) {
            ComPtr<IRawElementProviderFragment> child;
            if (FAILED(parent->Navigate(NavigateDirection_FirstChild, &child))) return;
            while (child) {
                Seen s;
                child.As(&s.provider);
                s.depth = depth;
                s.name = bstr_property(s.provider.Get(), UIA_NamePropertyId);
                s.type = int_property(s.provider.Get(), UIA_ControlTypePropertyId);
                s.enabled = int_property(s.provider.Get(), UIA_IsEnabledPropertyId) == 1;
                s.focused = int_property(s.provider.Get(), UIA_HasKeyboardFocusPropertyId) == 1;
                child->get_BoundingRectangle(&s.rect);
                seen.push_back(s);
                visit(child.Get(), depth + 1);
                ComPtr<IRawElementProviderFragment> next;
                if (FAILED(child->Navigate(NavigateDirection_NextSibling, &next))) break;
                child = next;
            }
        };
    ComPtr<IRawElementProviderFragment> top;
    if (SUCCEEDED(root->QueryInterface(IID_PPV_ARGS(&top)))) visit(top.Get(), 0);
    return seen;
}

const char* type_name(int type) {
    switch (type) {
        case uia::kButton:
            return "Button";
        case uia::kCheckBox:
            return "CheckBox";
        case uia::kList:
            return "List";
        case uia::kProgressBar:
            return "ProgressBar";
        case uia::kRadioButton:
            return "RadioButton";
        case uia::kStatusBar:
            return "StatusBar";
        case uia::kText:
            return "Text";
        case uia::kGroup:
            return "Group";
        case uia::kWindow:
            return "Window";
        default:
            return "?";
    }
}

// One line a node: indentation, control type, name, states, rectangle.
std::string describe(const std::vector<Seen>& tree, POINT origin) {
    std::string out;
    for (const Seen& s : tree) {
        out += std::string(size_t(s.depth) * 2, ' ') + type_name(s.type) + " \"" + narrow(s.name) +
               "\"";
        if (!s.enabled) out += " [unavailable]";
        if (s.focused) out += " [focused]";
        ComPtr<IUnknown> p;
        if (SUCCEEDED(s.provider->GetPatternProvider(UIA_SelectionItemPatternId, &p)) && p) {
            ComPtr<ISelectionItemProvider> item;
            BOOL on = FALSE;
            if (SUCCEEDED(p.As(&item)) && SUCCEEDED(item->get_IsSelected(&on)) && on)
                out += " [selected]";
        }
        if (SUCCEEDED(s.provider->GetPatternProvider(UIA_TogglePatternId, &p)) && p) {
            ComPtr<IToggleProvider> toggle;
            uia::ToggleState state{};
            if (SUCCEEDED(p.As(&toggle)) && SUCCEEDED(toggle->get_ToggleState(&state)))
                out += state == uia::ToggleState_On ? " [on]" : " [off]";
        }
        if (SUCCEEDED(s.provider->GetPatternProvider(UIA_RangeValuePatternId, &p)) && p) {
            ComPtr<IRangeValueProvider> range;
            double value = 0;
            if (SUCCEEDED(p.As(&range)) && SUCCEEDED(range->get_Value(&value)))
                out += " [" + std::to_string(int(value)) + "%]";
        }
        if (s.rect.width > 0)
            out += " @" + std::to_string(int(s.rect.left) - origin.x) + "," +
                   std::to_string(int(s.rect.top) - origin.y) + " " +
                   std::to_string(int(s.rect.width)) + "x" + std::to_string(int(s.rect.height));
        else
            out += " (out of sight)";
        out += "\n";
    }
    return out;
}

const Seen* find(const std::vector<Seen>& tree, int type, std::string_view name = {}) {
    for (const Seen& s : tree)
        if (s.type == type && (name.empty() || narrow(s.name) == name)) return &s;
    return nullptr;
}

template <typename I>
ComPtr<I> pattern_of(const Seen& s, PATTERNID id) {
    ComPtr<IUnknown> unknown;
    ComPtr<I> p;
    if (SUCCEEDED(s.provider->GetPatternProvider(id, &unknown)) && unknown) unknown.As(&p);
    return p;
}

// The real window on a simulated stick, in this thread.
class LiveWindow {
  public:
    LiveWindow(const std::filesystem::path& dir, Language language,
               const std::string& stick_settings)
        : stick_(dir / "stick.img") {
        test::make_file(stick_, 64ull << 20);
        std::string entry = stick_.string() + ",serial=UIA" + stick_settings;
        SetEnvironmentVariableW(L"ORTIVEX_SIMULATED_USB", widen(entry).c_str());
        auto disks = std::make_shared<SystemOnDiskZero>(with_simulated_drives(
            platform_disk_system(real_clock()), std::make_shared<SimulatedStates>()));
        auto machine = platform_machine(std::move(disks));

        static const bool registered = [] {
            WNDCLASSEXW cls{};
            cls.cbSize = sizeof(cls);
            cls.lpfnWndProc = window_procedure;
            cls.hInstance = GetModuleHandleW(nullptr);
            cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            cls.lpszClassName = kWindowClass;
            return RegisterClassExW(&cls) != 0;
        }();
        EXPECT_TRUE(registered);
        const SIZE size = window_size(96, 96);
        window = CreateWindowExW(0, kWindowClass, kWindowTitle, kWindowStyle, 40, 20, size.cx,
                                 size.cy, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!window) return;
        WindowState initial;
        initial.geometry.dpi = 96;
        RECT client{};
        GetClientRect(window, &client);
        initial.geometry.client_width = uint32_t(client.right);
        initial.geometry.client_height = uint32_t(client.bottom);
        initial.settings_file = dir / "settings.ini";
        initial.appearance.prefs.lang = static_cast<uint8_t>(language);
        std::shared_ptr<RenderFactories> factories = create_render_factories();
        if (!factories) return;
        main = new MainWindow(window, std::move(factories), nullptr, std::move(machine),
                              std::move(initial));
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(main));
        main->controller().start();
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
    }
    ~LiveWindow() {
        if (window && IsWindow(window)) DestroyWindow(window);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&m);
        SetEnvironmentVariableW(L"ORTIVEX_SIMULATED_USB", nullptr);
    }

    IRawElementProviderSimple* root() { return main->uia().root(); }
    std::vector<Seen> tree() { return walk(root()); }
    POINT origin() const {
        POINT p{0, 0};
        ClientToScreen(window, &p);
        return p;
    }
    // Waits for a node of that type and name; null if it never came.
    std::optional<Seen> wait_for(int type, std::string_view name = {},
                                 std::chrono::seconds ceiling = 90s) {
        std::optional<Seen> found;
        pump_until(
            [&] {
                auto t = tree();
                if (const Seen* s = find(t, type, name)) found = *s;
                return found.has_value();
            },
            ceiling);
        return found;
    }
    // Waits until the node is there and enabled, then invokes it.
    bool invoke(std::string_view name) {
        std::optional<Seen> found;
        pump_until([&] {
            auto t = tree();
            const Seen* s = find(t, uia::kButton, name);
            if (s && s->enabled) found = *s;
            return found.has_value();
        });
        if (!found) return false;
        auto invoke = pattern_of<IInvokeProvider>(*found, UIA_InvokePatternId);
        return invoke && SUCCEEDED(invoke->Invoke());
    }

    HWND window = nullptr;
    MainWindow* main = nullptr;
    std::filesystem::path stick_;
};

// The trees go beside the gallery, for review.
void keep_tree(const std::string& name, const std::string& tree) {
    std::filesystem::create_directories(A11Y_TREES_DIR);
    std::ofstream(std::filesystem::path(A11Y_TREES_DIR) / (name + ".txt")) << tree;
}

std::string label(Language language, TextId id) {
    return std::string(text(language, id));
}

class UiaLiveWindow : public ::testing::Test {
  protected:
    void SetUp() override { com_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override {
        if (SUCCEEDED(com_)) CoUninitialize();
    }
    HRESULT com_ = E_FAIL;
    test::TempDir dir;
};

TEST_F(UiaLiveWindow, TheSetupScreenReadThroughTheProvidersInEnglishAndSpanish) {
    std::wstring english_names;
    for (Language language : {Language::English, Language::Spanish}) {
        SCOPED_TRACE(static_cast<int>(language));
        LiveWindow w(dir.path(), language, "");
        ASSERT_TRUE(w.main);
        // The window answers UI Automation's question with its root.
        EXPECT_NE(SendMessageW(w.window, WM_GETOBJECT, 0, static_cast<LPARAM>(UiaRootObjectId)), 0);
        EXPECT_EQ(bstr_property(w.root(), UIA_NamePropertyId), L"Ortivex Stickwright");
        EXPECT_EQ(int_property(w.root(), UIA_ControlTypePropertyId), uia::kWindow);

        // The scan found the stick: its row is there.
        ASSERT_TRUE(w.wait_for(uia::kRadioButton));
        auto tree = w.tree();
        const std::string text = describe(tree, w.origin());
        keep_tree(language == Language::English ? "setup-en" : "setup-es", text);
        std::cout << text;

        RECT client{};
        GetClientRect(w.window, &client);
        const POINT origin = w.origin();
        for (const Seen& s : tree) {
            EXPECT_FALSE(s.name.empty()) << type_name(s.type);
            EXPECT_NE(std::string(type_name(s.type)), "?") << narrow(s.name);
            if (s.rect.width <= 0) continue;
            EXPECT_GE(s.rect.left, origin.x) << narrow(s.name);
            EXPECT_GE(s.rect.top, origin.y) << narrow(s.name);
            EXPECT_LE(s.rect.left + s.rect.width, origin.x + client.right) << narrow(s.name);
            EXPECT_LE(s.rect.top + s.rect.height, origin.y + client.bottom) << narrow(s.name);
        }
        // Without an image, "Create bootable USB" is there, in the window's
        // language, and says it is unavailable.
        const Seen* create = find(tree, uia::kButton, label(language, TextId::CreateBootableUsb));
        ASSERT_TRUE(create) << text;
        EXPECT_FALSE(create->enabled);
        const Seen* row = find(tree, uia::kRadioButton);
        EXPECT_TRUE(row->enabled);
        EXPECT_NE(row->name.find(L"Simulated USB"), std::wstring::npos) << narrow(row->name);
        if (language == Language::English)
            english_names = create->name;
        else
            EXPECT_NE(create->name, english_names);

        // Focus given through the provider is the keyboard focus the next
        // frame reports.
        ComPtr<IRawElementProviderFragment> row_fragment;
        ASSERT_EQ(row->provider.As(&row_fragment), S_OK);
        ASSERT_EQ(row_fragment->SetFocus(), S_OK);
        ASSERT_TRUE(pump_until(
            [&] { return int_property(row->provider.Get(), UIA_HasKeyboardFocusPropertyId) == 1; },
            60s));
        EXPECT_TRUE(w.main->controller().state().input.focus_visible);
    }
}

TEST_F(UiaLiveWindow, AWholeWriteDrivenOnlyThroughThePatterns) {
    LiveWindow w(dir.path(), Language::English, ",mbps=1");
    ASSERT_TRUE(w.main);
    ASSERT_TRUE(w.wait_for(uia::kRadioButton));
    // The image comes as from the file picker, which is the system's dialog.
    w.main->controller().select_image(test::test_image_path("signed.iso"), std::nullopt);

    // Select the drive.
    auto row = w.wait_for(uia::kRadioButton);
    ASSERT_TRUE(row);
    auto item = pattern_of<ISelectionItemProvider>(*row, UIA_SelectionItemPatternId);
    ASSERT_TRUE(item);
    ASSERT_EQ(item->Select(), S_OK);
    ASSERT_TRUE(pump_until([&] {
        BOOL on = FALSE;
        return SUCCEEDED(item->get_IsSelected(&on)) && on;
    }));

    ASSERT_TRUE(w.invoke("Create bootable USB"));
    auto dialog = w.wait_for(uia::kWindow);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(int_property(dialog->provider.Get(), uia::kIsDialogProperty), 1);
    auto confirmation = w.tree();
    keep_tree("erase-confirmation-en", describe(confirmation, w.origin()));
    // While the overlay is open, only its nodes are there.
    EXPECT_FALSE(find(confirmation, uia::kButton, "Create bootable USB"));
    ASSERT_TRUE(w.invoke("Erase & Create"));

    // The progress screen, while it writes.
    ASSERT_TRUE(
        pump_until([&] { return w.main->controller().state().phase == AppPhase::Writing; }));
    const auto progress = w.tree();
    keep_tree("progress-en", describe(progress, w.origin()));
    const Seen* bar = find(progress, uia::kProgressBar);
    ASSERT_TRUE(bar) << describe(progress, w.origin());
    {
        auto range = pattern_of<IRangeValueProvider>(*bar, UIA_RangeValuePatternId);
        ASSERT_TRUE(range);
        BOOL read_only = FALSE;
        EXPECT_EQ(range->get_IsReadOnly(&read_only), S_OK);
        EXPECT_TRUE(read_only);
    }

    ASSERT_TRUE(w.invoke("Eject USB drive"));  // on the complete screen
    keep_tree("complete-en", describe(w.tree(), w.origin()));
    ASSERT_TRUE(pump_until(
        [&] { return w.main->controller().state().write.eject == EjectState::Ejected; }));
    ASSERT_TRUE(w.invoke("Done"));
    ASSERT_TRUE(
        pump_until([&] { return w.main->controller().state().phase != AppPhase::Complete; }));

    const std::string image = test::load_test_image("signed.iso");
    EXPECT_EQ(test::read_range(w.stick_, 0, image.size()), image) << "the drive holds the image";
}

TEST_F(UiaLiveWindow, AFailedWriteEndsOnTheFailedScreenAsReadThroughTheProviders) {
    LiveWindow w(dir.path(), Language::English, ",error=1117@1048576");
    ASSERT_TRUE(w.main);
    ASSERT_TRUE(w.wait_for(uia::kRadioButton));
    w.main->controller().select_image(test::test_image_path("signed.iso"), std::nullopt);
    ASSERT_TRUE(w.invoke("Create bootable USB"));
    ASSERT_TRUE(w.invoke("Erase & Create"));
    ASSERT_TRUE(w.wait_for(uia::kButton, "Try again"));
    auto tree = w.tree();
    keep_tree("failed-en", describe(tree, w.origin()));
    EXPECT_EQ(w.main->controller().state().phase, AppPhase::Failed);
}

TEST_F(UiaLiveWindow, AnotherProcessReadsTheWindowsOwnNode) {
    LiveWindow w(dir.path(), Language::English, "");
    ASSERT_TRUE(w.main);
    ASSERT_TRUE(pump_until([&] { return w.main->controller().state().last_frame.first_logged; }));
    std::filesystem::create_directories(A11Y_TREES_DIR);
    const std::filesystem::path report =
        std::filesystem::path(A11Y_TREES_DIR) / "other-process.txt";
    std::wstring command = L"\"" + widen(UIA_PROBE_EXE) + L"\" " +
                           std::to_wstring(reinterpret_cast<uintptr_t>(w.window)) + L" \"" +
                           report.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    // The window answers the probe from this thread: keep dispatching.
    const bool ended =
        pump_until([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }, 90s);
    if (!ended) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_TRUE(ended);
    const std::string read = test::read_file(report);
    std::cout << read;
    EXPECT_NE(read.find("name: Ortivex Stickwright\n"), std::string::npos) << read;
    EXPECT_NE(read.find("control type: 50032\n"), std::string::npos) << read;
}

}  // namespace
}  // namespace sw::win
