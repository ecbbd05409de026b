// The window's texts in its three languages, and how the language is chosen.
// Every table holds the same texts at the same positions; the window keeps a
// reference to the table of the current language and looks texts up while it
// draws, so a language change shows on the next frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace sw {

// One byte: 0 English, 1 Spanish (Mexico), 2 Chinese (Simplified).
enum class Language : uint8_t { English = 0, Spanish = 1, Chinese = 2 };

inline constexpr size_t kLanguageCount = 3;
inline constexpr std::array<Language, kLanguageCount> kLanguages = {
    Language::English, Language::Spanish, Language::Chinese};

// A stored or requested language value: values above 2 count as Chinese, so
// that a bad byte can never index past the tables.
Language language_from_value(uint8_t value);

inline constexpr size_t kTextCount = 188;

// The positions of the texts. The comment is the English text.
enum class TextId : uint16_t {
    BuildNumber = 0,             // "Build {}"
    EjectDrive = 1,              // "Eject USB drive"
    EjectingEllipsis = 2,        // "Ejecting…"
    VerifyAfterWriting = 3,      // "Verify after writing"
    VerifyDescription = 4,       // "Reads the USB back and compares it with the image."
    VerificationSkipped = 5,     // "Verification skipped"
    WritingFile = 6,             // "Writing {}"
    VerifyingFile = 7,           // "Verifying {}"
    BootArea = 8,                // "boot area"
    StatWritten = 9,             // "Written"
    StatSpeed = 10,              // "Speed"
    StatTimeRemaining = 11,      // "Time remaining"
    StatElapsed = 12,            // "Elapsed"
    WrittenAt = 13,              // "Written at {}"
    CheckTakesAMinute = 14,      // "This can take up to a minute. Nothing on the drive is changed."
    Slow = 15,                   // "Slow"
    CheckDrive = 16,             // "Check drive"
    DriveCheckTitle = 17,        // "USB drive check"
    CheckingDrive = 18,          // "Checking {}…"
    DriveHealthy = 19,           // "This drive is healthy."
    DriveHasProblems = 20,       // "This drive has problems."
    UseAnotherDrive = 21,        // "Use another USB drive to create the installer."
    CheckFileSave = 22,          // "Windows can save files to it"
    CheckRead = 23,              // "It can be read"
    CheckDirectWrite = 24,       // "It accepts direct writes"
    OutcomeNoResponse = 25,      // "No response"
    OutcomeWriteProtected = 26,  // "Write-protected"
    OutcomeFailed = 27,          // "Failed"
    OutcomeNotTested = 28,       // "Not tested"
    NothingChanged = 29,         // "Nothing on the drive was changed."
    CheckImpossible = 30,        // "The drive could not be checked."
    Close = 31,                  // "Close"
    NotAcceptingTitle = 32,      // "This USB drive is not accepting data."
    NotAcceptingAdvice = 33,  // "Nothing was erased. The drive may be write-protected or worn out.
                              // Try another USB drive."
    OpenLogFolder = 34,       // "Open log folder"
    PrepareChecking = 35,     // "Checking the drive"
    PrepareWaitingForRelease = 36,  // "Waiting for other programs to release the drive"
    PrepareTakingOffline = 37,      // "Taking the drive offline"
    PrepareOpening = 38,            // "Opening the drive"
    PrepareClearing = 39,           // "Clearing old partitions"
    LanguageName = 40,              // "English"
    AppName = 41,                   // "Ortivex Stickwright"
    SetupTitle = 42,                // "Create Ortivex Installation Media"
    SetupSubtitle = 43,             // "Prepare a bootable installer for Ortivex."
    ImageCardTitle = 44,            // "Ortivex Image"
    NoImageSelected = 45,           // "No image selected"
    NoImageHint = 46,               // "Select a Ortivex ISO or download the latest release."
    SelectIso = 47,                 // "Select ISO"
    DownloadLatest = 48,            // "Download Latest"
    ImageName = 49,                 // "Ortivex {}"
    ImageDetails = 50,              // "{} · x86-64 · {}"
    ChannelStable = 51,             // "Stable"
    ChannelReleaseCandidate = 52,   // "Release candidate"
    ChannelDevelopment = 53,        // "Development build"
    CheckingImage = 54,             // "Checking image…"
    VerifyingImagePercent = 55,     // "Verifying image integrity · {}%"
    OfficialImage = 56,             // "Official VOSKET Image"
    UnverifiedImage = 57,           // "Unverified image"
    UnverifiedWarning = 58,         // "Not signed by VOSKET. Use it only if you trust its source."
    DriveCardTitle = 59,            // "USB Drive"
    InsertDrive = 60,               // "Insert a USB drive"
    InsertDriveHint = 61,           // "It appears here as soon as Windows detects it."
    DriveReady = 62,                // "Ready"
    ChooseDrive = 63,               // "Choose a drive"
    TooSmallNeeds = 64,             // "Too small · needs {}"
    ProtectedReason = 65,           // "Protected · {}"
    NoMedia = 66,                   // "No media"
    RefusalWindows = 67,            // "contains Windows"
    RefusalSystemDrive = 68,        // "system drive"
    RefusalBootPartition = 69,      // "the computer starts from it"
    RefusalPagefile = 70,           // "used by Windows memory"
    RefusalExecutable = 71,         // "Stickwright runs from it"
    RefusalContainsImage = 72,      // "holds the selected image"
    RefusalUndetermined = 73,       // "safety check unavailable"
    DiskNumber = 74,                // "Disk {}"
    CreateBootableUsb = 75,         // "Create bootable USB"
    EraseQuestion = 76,             // "Erase {}?"
    EraseWarning = 77,              // "All existing data on this drive will be permanently erased."
    EraseUnsignedWarning = 78,      // "The selected image is not signed by VOSKET."
    Cancel = 79,                    // "Cancel"
    EraseAndCreate = 80,            // "Erase & Create"
    ProgressTitle = 81,             // "Creating Ortivex Installation Media"
    StepPreparing = 82,             // "Preparing"
    StepWriting = 83,               // "Writing"
    StepVerifying = 84,             // "Verifying"
    StepFinishing = 85,             // "Finishing"
    PhasePreparing = 86,            // "Preparing the drive"
    PhaseWriting = 87,              // "Writing Ortivex"
    PhaseFlushing = 88,             // "Saving data to the drive"
    PhaseVerifying = 89,            // "Verifying Ortivex"
    PhaseEjecting = 90,             // "Ejecting"
    AmountOfTotal = 91,             // "{} / {}"
    PerSecond = 92,                 // "{}/s"
    AboutRemaining = 93,            // "About {} remaining"
    EstimatingTime = 94,            // "Estimating time…"
    FinishingEllipsis = 95,         // "Finishing…"
    Seconds = 96,                   // "{} seconds"
    OneMinute = 97,                 // "1 minute"
    Minutes = 98,                   // "{} minutes"
    Stop = 99,                      // "Stop"
    StopQuestion = 100,             // "Stop creating this USB?"
    StopWarning = 101,              // "The drive may no longer be bootable."
    Continue = 102,                 // "Continue"
    CompleteTitle = 103,            // "Ortivex is ready."
    MediaCreated = 104,             // "Bootable media created"
    IntegrityVerified = 105,        // "Image integrity verified"
    SafeToRemove = 106,             // "You can safely remove the USB drive."
    UsbReady = 107,                 // "Ortivex USB is ready."
    EjectFailed = 108,  // "Windows could not eject the device automatically. Use Safely Remove
                        // Hardware before disconnecting it."
    Done = 109,         // "Done"
    WrittenAndVerifiedAt = 110,  // "Written at {} · verified at {}"
    CancelledTitle = 111,        // "USB creation stopped."
    CancelledAdvice =
        112,  // "The drive may no longer be bootable. Create the media again before using it."
    TryAgain = 113,           // "Try again"
    ShowDetails = 114,        // "Show details"
    HideDetails = 115,        // "Hide details"
    CopyDetails = 116,        // "Copy details"
    InUseTitle = 117,         // "The USB drive is currently in use."
    InUseAdvice = 118,        // "Close any applications using the drive and try again."
    DisconnectedTitle = 119,  // "USB drive disconnected."
    DisconnectedAdvice =
        120,  // "The installation media was not completed. Reconnect the USB drive and try again."
    StoppedAcceptingTitle = 121,   // "The USB drive stopped accepting data."
    StoppedAcceptingAdvice = 122,  // "Try another USB port or another drive."
    ReadBackTitle = 123,           // "The USB drive did not return the data that was written."
    ReadBackAdvice = 124,          // "The drive may be failing. Try another drive."
    ImageReadTitle = 125,          // "The image file could not be read."
    ImageReadAdvice = 126,         // "Check that the file is still available and try again."
    ImageChangedTitle = 127,       // "The image file changed while it was being written."
    ImageChangedAdvice = 128,      // "Select the image again."
    DriveChangedTitle = 129,       // "A different USB drive is now connected."
    DriveChangedAdvice = 130,      // "Nothing was written to it. Select the drive again."
    ProtectedTitle = 131,          // "This drive is protected."
    ProtectedAdvice = 132,         // "It is part of the running system and cannot be erased."
    AccessDeniedTitle = 133,       // "Administrator permission is required."
    AccessDeniedAdvice = 134,      // "Run Ortivex Stickwright again and accept the Windows prompt."
    NotCompletedTitle = 135,       // "The installation media was not completed."
    NotCompletedAdvice =
        136,  // "Try again. If it keeps happening, share the details with VOSKET support."
    VerdictNotDiskImage = 137,  // "This file is not a disk image."
    VerdictNotOrtivex = 138,    // "This is not a Ortivex image."
    VerdictNotBootable = 139,   // "This image cannot start from a USB drive."
    VerdictBadSignature = 140,  // "This image's signature is not valid. It may have been modified."
    VerdictDamaged = 141,       // "This image is damaged. Download it again."
    VerdictIncomplete = 142,    // "This image is incomplete. Download it again."
    VerdictUnreadable = 143,    // "The image file could not be read."
    DownloadingVersion = 144,   // "Downloading Ortivex {}"
    Connecting = 145,           // "Connecting…"
    DownloadFailedTitle = 146,  // "The download did not complete."
    DownloadFailedAdvice = 147,  // "Check your internet connection and try again."
    VerifyingDownload = 148,     // "Verifying download…"
    RetryingConnection = 149,    // "Connection lost. Retrying ({} of {})…"
    UpdateAvailable = 150,       // "Stickwright {} is available."
    Download = 151,              // "Download"
    ThemeSystem = 152,           // "System"
    ThemeLight = 153,            // "Light"
    ThemeDark = 154,             // "Dark"
    SettingsTitle = 155,         // "Appearance and language"
    FooterLine = 156,            // "VOSKET · Official installation media"
    WriteRunningTitle = 157,     // "A USB drive is being created."
    WriteRunningAdvice = 158,    // "Stop it first, or wait until it finishes."
    NeedsAdministrator =
        159,  // "Ortivex Stickwright needs administrator permission to write USB drives."
    IsoFileFilter = 160,     // "Ortivex image (*.iso)"
    DownloadTooLarge = 161,  // "The file is larger than any Ortivex image."
    DownloadNoSpace = 162,   // "Not enough free space in the Downloads folder."
    // What a screen reader is told beside what is drawn.
    LabelValue = 163,      // "{}: {}"
    ListJoin = 164,        // "{}, {}"
    ThemeGroup = 165,      // "Theme"
    LanguageGroup = 166,   // "Language"
    DriveConnected = 167,  // "{} connected"
    DriveRemoved = 168,    // "{} removed"
    PercentSpoken = 169,   // "{} percent"
    Copied = 170,          // "Copied"
    // Restoring a drive to everyday use.
    RestoreDrive = 171,     // "Restore drive"
    RestoreQuestion = 172,  // "Restore {}?"
    RestoreWarning = 173,   // "Everything on this drive will be permanently erased."
    RestoreWillHold =
        174,  // "It will then have one empty {} partition that Windows, macOS and Linux can use."
    EraseAndRestore = 175,         // "Erase & Restore"
    RestoreProgressTitle = 176,    // "Restoring the USB drive"
    RestorePhaseWriting = 177,     // "Creating the file system"
    RestorePhaseVerifying = 178,   // "Checking what was written"
    RestorePhaseFinishing = 179,   // "Finishing"
    RestoreCompleteTitle = 180,    // "The drive is restored."
    RestoredForEverydayUse = 181,  // "Ready for everyday use"
    RestoreHolds = 182,            // "It now has one empty partition: {}"
    RestoreSummary = 183,          // "{}, {} clusters, {}"
    RestoreUseOrRemove = 184,      // "You can use the drive now, or safely remove it."
    RestoreCancelledTitle = 185,   // "Restore stopped."
    RestoreCancelledAdvice =
        186,  // "The drive may have no usable partition now. Restore it again before using it."
    RestoreRunningTitle = 187,  // "A USB drive is being restored."
};

// 188 UTF-8 texts, some with "{}" placeholders (filled by format_text).
using StringTable = std::array<std::string_view, kTextCount>;

const StringTable& string_table(Language language);

// Never fails: the positions are fixed. A position past the table gives "".
std::string_view text(Language language, TextId id);
std::string_view text(Language language, size_t position);
inline std::string_view text(const StringTable& table, TextId id) {
    return table[static_cast<size_t>(id)];
}

// "en", "es", "zh": the word the settings file stores.
std::string_view settings_word(Language language);
// Exactly "en", "es" or "zh"; anything else is none.
std::optional<Language> language_from_settings_word(std::string_view word);
// "en-us", "es-mx", "zh-cn": the locale the text layout is made for.
std::string_view locale_name(Language language);
// "EN", "ES", "中文": the segment of the language selector.
std::string_view selector_label(Language language);

// The language a user interface language picks (the LANGID of
// GetUserDefaultUILanguage): only the primary language, its low 10 bits,
// counts, so every Spanish and every Chinese variant is taken. Anything else
// is English.
Language language_for_ui_language(uint16_t langid);

// The language at start: the saved one when there is one (0 to 2), otherwise
// (3, "not set", or any larger value) the one the user interface language
// picks. A detected language is not saved by this.
Language choose_language(uint8_t saved, uint16_t ui_langid);
Language choose_language(std::optional<Language> saved, uint16_t ui_langid);

}  // namespace sw
