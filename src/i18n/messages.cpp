#include "i18n/messages.h"

#include "i18n/format.h"

namespace sw {

TextId verdict_text_id(ValidationError::Kind kind) {
    using K = ValidationError::Kind;
    switch (kind) {
        case K::Io:
            return TextId::VerdictUnreadable;
        case K::NotIso:
            return TextId::VerdictNotDiskImage;
        case K::NotOrtivex:
            return TextId::VerdictNotOrtivex;
        case K::NotBootable:
            return TextId::VerdictNotBootable;
        case K::BadSignature:
            return TextId::VerdictBadSignature;
        case K::SizeMismatch:
            return TextId::VerdictIncomplete;
        case K::Corrupted:
            return TextId::VerdictDamaged;
        case K::Malformed:
            return TextId::VerdictBadSignature;
        case K::Cancelled:
            return TextId::VerdictUnreadable;
    }
    return TextId::VerdictUnreadable;
}

VerdictMessage verdict_message(const StringTable& table, const ValidationError& error) {
    return {std::string(text(table, verdict_text_id(error.kind))), error.message()};
}

std::optional<TextId> refusal_text_id(Refusal::Kind kind) {
    switch (kind) {
        case Refusal::NotUsb:
            return std::nullopt;
        case Refusal::Windows:
            return TextId::RefusalWindows;
        case Refusal::SystemDrive:
            return TextId::RefusalSystemDrive;
        case Refusal::BootPartition:
            return TextId::RefusalBootPartition;
        case Refusal::Pagefile:
            return TextId::RefusalPagefile;
        case Refusal::Executable:
            return TextId::RefusalExecutable;
        case Refusal::ContainsImage:
            return TextId::RefusalContainsImage;
        case Refusal::Undetermined:
            return TextId::RefusalUndetermined;
        case Refusal::NoMedia:
            return TextId::NoMedia;
        case Refusal::TooSmall:
            return TextId::TooSmallNeeds;
    }
    return std::nullopt;
}

std::string refusal_phrase(const StringTable& table, const Refusal& refusal) {
    std::optional<TextId> id = refusal_text_id(refusal.kind);
    if (!id) return {};
    if (refusal.kind == Refusal::TooSmall)
        return format_text(text(table, *id), {format_size(refusal.need)});
    return std::string(text(table, *id));
}

std::string drive_row_status(const StringTable& table, const std::vector<Refusal>& refusals) {
    if (refusals.empty()) return {};
    // The first reason that has a phrase speaks for the row; a drive that
    // is refused only for not being USB still must never look writable.
    for (const Refusal& r : refusals) {
        if (!refusal_text_id(r.kind)) continue;
        if (r.kind == Refusal::NoMedia || r.kind == Refusal::TooSmall)
            return refusal_phrase(table, r);
        return format_text(text(table, TextId::ProtectedReason), {refusal_phrase(table, r)});
    }
    return std::string(text(table, TextId::ProtectedTitle));
}

FailureTextIds pipeline_failure_text_ids(PipelineError::Kind kind) {
    using K = PipelineError::Kind;
    switch (kind) {
        case K::ImageRead:
            return {TextId::ImageReadTitle, TextId::ImageReadAdvice};
        case K::DeviceWrite:
        case K::DeviceFlush:
        case K::DeviceTooSmall:
            return {TextId::StoppedAcceptingTitle, TextId::StoppedAcceptingAdvice};
        case K::DeviceDisconnected:
            return {TextId::DisconnectedTitle, TextId::DisconnectedAdvice};
        case K::HashMismatch:
            return {TextId::ImageChangedTitle, TextId::ImageChangedAdvice};
        case K::ReadBack:
        case K::ContentMismatch:
            return {TextId::ReadBackTitle, TextId::ReadBackAdvice};
        case K::Cancelled:
            return {TextId::NotCompletedTitle, TextId::NotCompletedAdvice};
        case K::Refused:
            return {TextId::DriveChangedTitle, TextId::DriveChangedAdvice};
    }
    return {TextId::NotCompletedTitle, TextId::NotCompletedAdvice};
}

FailureTextIds job_failure_text_ids(const JobError& error) {
    using K = JobError::Kind;
    switch (error.kind) {
        case K::Pipeline:
            return pipeline_failure_text_ids(error.pipeline.kind);
        case K::Protected:
            return {TextId::ProtectedTitle, TextId::ProtectedAdvice};
        case K::IdentityChanged:
            return {TextId::DriveChangedTitle, TextId::DriveChangedAdvice};
        case K::InUse:
            return {TextId::InUseTitle, TextId::InUseAdvice};
        case K::NotWritable:
            return {TextId::NotAcceptingTitle, TextId::NotAcceptingAdvice};
        case K::AccessDenied:
            return {TextId::AccessDeniedTitle, TextId::AccessDeniedAdvice};
        case K::Message:
            return {TextId::NotCompletedTitle, TextId::NotCompletedAdvice};
    }
    return {TextId::NotCompletedTitle, TextId::NotCompletedAdvice};
}

FailureTextIds download_failure_text_ids(DownloadError::Kind kind) {
    using K = DownloadError::Kind;
    switch (kind) {
        case K::Corrupted:
            return {TextId::NoImageSelected, TextId::VerdictDamaged};
        case K::TooLarge:
            return {TextId::DownloadFailedTitle, TextId::DownloadTooLarge};
        case K::NoSpace:
            return {TextId::DownloadFailedTitle, TextId::DownloadNoSpace};
        case K::Cancelled:
        case K::Failed:
            break;
    }
    return {TextId::DownloadFailedTitle, TextId::DownloadFailedAdvice};
}

FailureMessage job_failure_message(const StringTable& table, const JobError& error) {
    FailureTextIds ids = job_failure_text_ids(error);
    return {std::string(text(table, ids.title)), std::string(text(table, ids.advice)),
            error.text()};
}

}  // namespace sw
