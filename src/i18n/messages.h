// What the window says about other parts' outcomes: the verdict of a refused
// image, the reason a drive row cannot be chosen, the lines of a failed
// download, and the title, advice and technical details of a failed write.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "disk/facts.h"
#include "http/release_info.h"
#include "i18n/strings.h"
#include "image/verdict.h"
#include "writer/job_types.h"
#include "writer/pipeline.h"

namespace sw {

// The text that explains a refused image.
TextId verdict_text_id(ValidationError::Kind kind);

// A refused image as the window shows it: the translated verdict, and the
// verdict's own English message for the details ("size 90 differs from
// signed size 100").
struct VerdictMessage {
    std::string text;
    std::string details;
};
VerdictMessage verdict_message(const StringTable& table, const ValidationError& error);

// The phrase that names one refusal on a drive row ("contains Windows",
// "No media", "Too small · needs {}"). NotUsb has none: the window lists
// USB drives only.
std::optional<TextId> refusal_text_id(Refusal::Kind kind);

// The phrase of one refusal, filled: TooSmall gives "Too small · needs 8.0 GB".
// NotUsb gives "".
std::string refusal_phrase(const StringTable& table, const Refusal& refusal);

// The status of a refused drive's row, from its first refusal: "No media",
// "Too small · needs 8.0 GB", or "Protected · " and the refusal's phrase.
// A drive refused only as not USB is "This drive is protected.". Empty when
// the list is empty (the drive may be written).
std::string drive_row_status(const StringTable& table, const std::vector<Refusal>& refusals);

// The title and the advice of a failed write.
struct FailureTextIds {
    TextId title;
    TextId advice;
    friend bool operator==(const FailureTextIds&, const FailureTextIds&) = default;
};
FailureTextIds pipeline_failure_text_ids(PipelineError::Kind kind);
FailureTextIds job_failure_text_ids(const JobError& error);

// The image card's two lines after a failed download: its title and what it
// tells the user. A download that arrived damaged reads like a refused image.
FailureTextIds download_failure_text_ids(DownloadError::Kind kind);

// A failed write as the failure screen shows it; `details` is the error's
// own English text, the one the log has, for the details box and the
// clipboard.
struct FailureMessage {
    std::string title;
    std::string advice;
    std::string details;
};
FailureMessage job_failure_message(const StringTable& table, const JobError& error);

}  // namespace sw
