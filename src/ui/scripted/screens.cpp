#include "ui/scripted/screens.h"

#include <array>

namespace sw {

namespace {

constexpr std::array<std::string_view, 39> kNames = {
    "setup-empty",
    "setup-downloading",
    "setup-download-retry",
    "setup-download-failed",
    "setup-download-too-large",
    "setup-download-no-space",
    "setup-validating",
    "setup-refused-image",
    "setup-ready",
    "setup-selected",
    "setup-unsigned",
    "setup-update",
    "setup-many-drives",
    "setup-many-drives-scrolled",
    "progress-preparing",
    "progress-writing",
    "progress-flushing",
    "progress-verifying",
    "progress-ejecting",
    "progress-no-verify",
    "complete",
    "complete-ejected",
    "complete-eject-failed",
    "cancelled",
    "failed",
    "failed-details",
    "overlay-erase",
    "overlay-stop",
    "overlay-appearance",
    "overlay-close-refused",
    "overlay-drive-check",
    "overlay-drive-check-done",
    "overlay-drive-check-problems",
    "overlay-restore",
    "progress-restore",
    "complete-restore",
    "cancelled-restore",
    "failed-restore",
    "overlay-close-refused-restore",
};

constexpr uint64_t GB = 1'000'000'000;

DeviceInfo usb_drive(uint32_t number, std::string vendor, std::string product, uint64_t size,
                     std::vector<char> letters, UsbSpeed speed) {
    DeviceInfo d;
    d.instance_id = "USBSTOR\\DISK&VEN_" + vendor + "\\" + std::to_string(number);
    d.vendor = std::move(vendor);
    d.product = std::move(product);
    d.serial = "SN" + std::to_string(number);
    d.letters = std::move(letters);
    d.bus = BusKind{BusKind::Usb, 0};
    d.size = size;
    d.number = number;
    d.removable = true;
    d.usb_speed = speed;
    return d;
}

ImageInspection signed_image() {
    ImageInspection in;
    in.volume_id = "ORTIVEX_24_10";
    in.version = "24.10.3118";
    in.build = "3118";
    MediaManifest m;
    m.product = "OrtivexOS";
    m.version = "24.10.3118";
    m.build = "3118";
    m.architecture = "x86_64";
    m.channel = "stable";
    m.size = 5'368'709'120;
    in.manifest = m;
    in.image_size = m.size;
    in.files = {{"boot/grub/grub.cfg", 1'048'576, 4'096},
                {"boot/vmlinuz", 2'097'152, 12'582'912},
                {"live/filesystem.squashfs", 16'777'216, 4'000'000'000u},
                {"ortivex/MEDIA.SUMS", 4'100'000'000, 4'096}};
    return in;
}

void set_drives(WindowState& s, bool with_refused) {
    s.drives.scanned = true;
    s.drives.list = {
        usb_drive(2, "SanDisk", "Ultra", 31'460'000'000, {'E'}, UsbSpeed::Super),
        usb_drive(3, "Kingston", "DataTraveler", 15'500'000'000, {'F'}, UsbSpeed::High)};
    if (with_refused) {
        s.drives.list.push_back(usb_drive(4, "Generic", "Card Reader", 0, {}, UsbSpeed::High));
        s.drives.list.push_back(usb_drive(5, "Lexar", "JumpDrive", 4 * GB, {'G'}, UsbSpeed::Full));
        s.drives.list.push_back(
            usb_drive(6, "Samsung", "BAR Plus", 64 * GB, {'C'}, UsbSpeed::SuperPlus));
        s.drives.facts.boot_volume = std::vector<uint32_t>{0, 6};
    }
}

void accept(WindowState& s, ImageInspection in) {
    s.image.chosen = SelectedImage{"C:\\Users\\ana\\Downloads\\OrtivexOS-24.10.3118.iso",
                                   std::nullopt, std::move(in), true};
}

void writing(WindowState& s, AppPhase phase, WritePhase wp, uint64_t done, uint64_t total) {
    accept(s, signed_image());
    set_drives(s, false);
    s.drives.selected = identity_of(s.drives.list[0]);
    s.write.drive = s.drives.list[0];
    s.phase = phase;
    s.write.started_at = 100 - 425;
    s.write.verify = true;
    s.write.shown_phase = wp;
    s.write.shown_done = done;
    s.write.shown_total = total;
    s.write.progress_seen = total > 0;
    s.write.shown_step = PrepareStep::Locking;
    if (total > 0) {
        s.write.rate.has_value = true;
        s.write.rate.rate = 31.4e6;
        s.write.remaining = Remaining{Remaining::Seconds, 210};
    }
}

// The setup screen's states.
bool setup_state(WindowState& s, std::string_view name) {
    if (name == "setup-empty") {
        s.drives.scanned = true;
    } else if (name == "setup-downloading" || name == "setup-download-retry") {
        s.phase = AppPhase::Downloading;
        s.download.running = true;
        s.download.progress->done = 1'234'000'000;
        s.download.progress->total = 5'368'709'120;
        if (name == "setup-download-retry") s.download.progress->retry = 2;
        s.download.rate.has_value = true;
        s.download.rate.rate = 42.5e6;
        set_drives(s, false);
    } else if (name == "setup-download-failed") {
        s.download.error = DownloadError{DownloadError::Kind::Failed, "connection reset"};
        set_drives(s, false);
    } else if (name == "setup-download-too-large") {
        s.download.error = DownloadError{DownloadError::Kind::TooLarge, ""};
        set_drives(s, false);
    } else if (name == "setup-download-no-space") {
        s.download.error = DownloadError{DownloadError::Kind::NoSpace, ""};
        set_drives(s, false);
    } else if (name == "setup-validating") {
        s.phase = AppPhase::ValidatingImage;
        s.image.chosen = SelectedImage{"D:\\images\\OrtivexOS-24.10.3118.iso", std::nullopt,
                                       std::nullopt, false};
        s.image.progress->done = 2'147'483'648;
        s.image.progress->total = 5'368'709'120;
        set_drives(s, false);
    } else if (name == "setup-refused-image") {
        s.image.refused = ValidationError::of(ValidationError::Kind::Corrupted);
        set_drives(s, false);
    } else if (name == "setup-ready") {
        s.phase = AppPhase::ImageReady;
        accept(s, signed_image());
        set_drives(s, true);
    } else if (name == "setup-selected" || name == "setup-update") {
        s.phase = AppPhase::DeviceReady;
        accept(s, signed_image());
        set_drives(s, false);
        s.drives.selected = identity_of(s.drives.list[0]);
        if (name == "setup-update")
            s.download.update = UpdateNoticeMessage{
                "1.4.0", "https://localhost/downloads/Ortivex-Stickwright-1.4.0.exe"};
    } else if (name == "setup-unsigned") {
        s.phase = AppPhase::DeviceReady;
        ImageInspection in = signed_image();
        in.manifest.reset();
        in.version = "24.11-rc2";
        in.build.reset();
        accept(s, in);
        set_drives(s, false);
        s.drives.selected = identity_of(s.drives.list[1]);
    } else if (name == "setup-many-drives" || name == "setup-many-drives-scrolled") {
        s.phase = AppPhase::DeviceReady;
        accept(s, signed_image());
        set_drives(s, true);
        s.drives.list.push_back(
            usb_drive(7, "PNY", "Turbo Attache 4", 128 * GB, {'H', 'I'}, UsbSpeed::Super));
        s.drives.selected = identity_of(s.drives.list[0]);
        if (name == "setup-many-drives-scrolled") s.geometry.scroll = 10'000;  // to the end
    } else {
        return false;
    }
    return true;
}

// The write's screens, from its progress to its end.
bool write_state(WindowState& s, std::string_view name) {
    if (name == "progress-preparing") {
        writing(s, AppPhase::Preparing, WritePhase::Preparing, 0, 0);
    } else if (name == "progress-writing") {
        writing(s, AppPhase::Writing, WritePhase::Writing, 2'500'000'000, 5'368'709'120);
    } else if (name == "progress-flushing") {
        writing(s, AppPhase::Flushing, WritePhase::Flushing, 0, 0);
        s.write.remaining = Remaining{Remaining::Finishing, 0};
    } else if (name == "progress-verifying") {
        writing(s, AppPhase::Verifying, WritePhase::Verifying, 1'048'600, 5'368'709'120);
    } else if (name == "progress-ejecting") {
        writing(s, AppPhase::Ejecting, WritePhase::Finishing, 0, 0);
    } else if (name == "progress-no-verify") {
        writing(s, AppPhase::Writing, WritePhase::Writing, 500, 5'368'709'120);
        s.write.verify = false;
    } else if (name == "complete" || name == "complete-ejected" ||
               name == "complete-eject-failed") {
        writing(s, AppPhase::Complete, WritePhase::Finishing, 0, 0);
        s.write.summary = WriteSummary{5'368'709'120, 171.2, 98.4};
        s.write.complete_at = 10;
        if (name == "complete-ejected") s.write.eject = EjectState::Ejected;
        if (name == "complete-eject-failed") s.write.eject = EjectState::Failed;
    } else if (name == "cancelled") {
        writing(s, AppPhase::Cancelled, WritePhase::Writing, 0, 0);
    } else if (name == "failed" || name == "failed-details") {
        writing(s, AppPhase::Failed, WritePhase::Writing, 0, 0);
        s.write.failure = JobError::of_pipeline(PipelineError::of(
            PipelineError::Kind::DeviceDisconnected,
            "the device is not ready (os error 21) at byte 1073741824 of 5368709120"));
        s.write.details_expanded = name == "failed-details";
    } else {
        return false;
    }
    return true;
}

// A restore's screens, from its confirmation to its end: the second drive of
// the list, 64 GB, so exFAT.
bool restore_state(WindowState& s, std::string_view name) {
    auto restoring = [&s](AppPhase phase, WritePhase wp, uint64_t done, uint64_t total) {
        set_drives(s, false);
        s.drives.list[1] = usb_drive(3, "Samsung", "BAR Plus", 64 * GB, {'F'}, UsbSpeed::Super);
        s.drives.selected = identity_of(s.drives.list[1]);
        s.write.restore = true;
        s.write.drive = s.drives.list[1];
        s.phase = phase;
        s.write.started_at = 100 - 4;
        s.write.verify = true;
        s.write.shown_phase = wp;
        s.write.shown_done = done;
        s.write.shown_total = total;
        s.write.progress_seen = total > 0;
        if (total > 0) {
            s.write.rate.has_value = true;
            s.write.rate.rate = 24.8e6;
            s.write.remaining = Remaining{Remaining::Seconds, 3};
        }
    };
    if (name == "overlay-restore") {
        restoring(AppPhase::Idle, WritePhase::Preparing, 0, 0);
        s.write = {};
        s.overlay = Overlay::RestoreConfirm;
        s.input.focus = {UiAction::DismissRestore};
    } else if (name == "progress-restore") {
        restoring(AppPhase::Writing, WritePhase::Writing, 20'971'520, 33'554'432);
    } else if (name == "complete-restore") {
        restoring(AppPhase::Complete, WritePhase::Finishing, 0, 0);
        RestoreReport r;
        r.fs = format::FileSystem::ExFat;
        r.cluster_bytes = 128 * 1024;
        r.capacity_bytes = 64'023'248'896;
        s.write.restored = r;
        s.write.complete_at = 10;
    } else if (name == "cancelled-restore") {
        restoring(AppPhase::Cancelled, WritePhase::Writing, 0, 0);
    } else if (name == "overlay-close-refused-restore") {
        restoring(AppPhase::Writing, WritePhase::Writing, 20'971'520, 33'554'432);
        s.overlay = Overlay::CloseRefused;
        s.input.focus = {UiAction::ClosePanel};
    } else if (name == "failed-restore") {
        restoring(AppPhase::Failed, WritePhase::Writing, 0, 0);
        s.write.failure = JobError::of_pipeline(
            PipelineError::of(PipelineError::Kind::DeviceWrite,
                              "the request could not be performed because of an I/O device "
                              "error (os error 1117) at byte 1048576 of 33554432"));
    } else {
        return false;
    }
    return true;
}

// The overlays over the screens.
bool overlay_state(WindowState& s, std::string_view name) {
    if (name == "overlay-erase") {
        s.phase = AppPhase::Confirming;
        accept(s, signed_image());
        set_drives(s, false);
        s.drives.selected = identity_of(s.drives.list[0]);
        s.overlay = Overlay::EraseConfirm;
        s.input.focus = {UiAction::DismissErase};
    } else if (name == "overlay-stop") {
        writing(s, AppPhase::Writing, WritePhase::Writing, 2'500'000'000, 5'368'709'120);
        s.overlay = Overlay::StopConfirm;
        s.input.focus = {UiAction::DismissOverlay};
    } else if (name == "overlay-appearance") {
        s.phase = AppPhase::DeviceReady;
        accept(s, signed_image());
        set_drives(s, false);
        s.drives.selected = identity_of(s.drives.list[0]);
        s.overlay = Overlay::Appearance;
    } else if (name == "overlay-close-refused") {
        writing(s, AppPhase::Writing, WritePhase::Writing, 2'500'000'000, 5'368'709'120);
        s.overlay = Overlay::CloseRefused;
        s.input.focus = {UiAction::ClosePanel};
    } else if (name == "overlay-drive-check" || name == "overlay-drive-check-done" ||
               name == "overlay-drive-check-problems") {
        s.phase = AppPhase::DeviceReady;
        accept(s, signed_image());
        set_drives(s, false);
        s.drives.selected = identity_of(s.drives.list[0]);
        s.drive_check.drive = s.drives.list[0];
        s.overlay = Overlay::DriveCheck;
        s.input.focus = {UiAction::CloseDriveCheck};
        if (name == "overlay-drive-check") {
            s.drive_check.running = true;
        } else {
            HealthReport r;
            r.drive = drive_label(s.drives.list[0]);
            r.file_write = Verdict{Verdict::Pass, 21.5e6, ""};
            r.read = Verdict{Verdict::Pass, 38.2e6, ""};
            r.write = Verdict{Verdict::Pass, 640e3, ""};
            if (name == "overlay-drive-check-problems") {
                r.file_write = Verdict{Verdict::Skipped, std::nullopt, ""};
                r.write = Verdict{Verdict::WriteProtected, std::nullopt, ""};
            }
            s.drive_check.report = r;
        }
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string_view> screen_names() {
    return {kNames.begin(), kNames.end()};
}

std::optional<ScriptedScreen> scripted_screen(std::string_view name, uint8_t lang, Theme theme,
                                              bool high_contrast) {
    ScriptedScreen out;
    WindowState& s = out.state;
    s.appearance.prefs.theme = theme;
    s.appearance.prefs.lang = lang > 2 ? 2 : lang;
    ThemeQueries q;
    q.high_contrast = high_contrast;
    if (high_contrast) {
        q.colors.window = 0x000000;
        q.colors.window_text = 0xFFFFFF;
        q.colors.highlight = 0x00FFFF;
        q.colors.highlight_text = 0x000000;
        q.colors.gray_text = 0x00FF00;
        q.colors.hot_light = 0xFFFF00;
    }
    s.appearance.palette = compute_palette(theme, q);
    s.download.release =
        ReleaseInfo{signed_image().manifest.value(), "https://localhost/downloads/x.iso"};

    if (!setup_state(s, name) && !write_state(s, name) && !overlay_state(s, name) &&
        !restore_state(s, name))
        return std::nullopt;
    s.screen = screen_of(s.phase);
    s.previous_screen = s.screen;
    return out;
}

}  // namespace sw
