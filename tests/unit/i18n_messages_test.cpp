// What the window says for every verdict, refusal and write failure.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "i18n/format.h"
#include "i18n/messages.h"
#include "i18n/strings.h"

namespace sw {
namespace {

size_t pos(TextId id) {
    return static_cast<size_t>(id);
}

const StringTable& english() {
    return string_table(Language::English);
}

TEST(I18nMessages, EveryVerdictHasItsText) {
    using K = ValidationError::Kind;
    const std::map<K, size_t> expected = {
        {K::Io, 143},          {K::NotIso, 137},       {K::NotOrtivex, 138},
        {K::NotBootable, 139}, {K::BadSignature, 140}, {K::SizeMismatch, 142},
        {K::Corrupted, 141},   {K::Malformed, 140},    {K::Cancelled, 143},
    };
    for (int k = 0; k <= static_cast<int>(K::Cancelled); ++k) {
        auto kind = static_cast<K>(k);
        ASSERT_TRUE(expected.count(kind)) << kind_name(kind);
        EXPECT_EQ(pos(verdict_text_id(kind)), expected.at(kind)) << kind_name(kind);
    }
}

TEST(I18nMessages, VerdictMessageIsTranslatedWithTheEnglishDetails) {
    ValidationError error = ValidationError::size_mismatch(100, 90);
    VerdictMessage es = verdict_message(string_table(Language::Spanish), error);
    EXPECT_EQ(es.text, "Esta imagen está incompleta. Descárgala de nuevo.");
    EXPECT_EQ(es.details, error.message());
    EXPECT_FALSE(es.details.empty());
    VerdictMessage zh = verdict_message(string_table(Language::Chinese),
                                        ValidationError::io("read failed (os error 23)"));
    EXPECT_EQ(zh.text, "无法读取映像文件。");
    EXPECT_EQ(zh.details, ValidationError::io("read failed (os error 23)").message());
}

TEST(I18nMessages, EveryRefusalHasAPhraseExceptNotUsb) {
    const std::map<Refusal::Kind, size_t> expected = {
        {Refusal::Windows, 67},      {Refusal::SystemDrive, 68}, {Refusal::BootPartition, 69},
        {Refusal::Pagefile, 70},     {Refusal::Executable, 71},  {Refusal::ContainsImage, 72},
        {Refusal::Undetermined, 73}, {Refusal::NoMedia, 66},     {Refusal::TooSmall, 64},
    };
    for (int k = 0; k <= Refusal::TooSmall; ++k) {
        auto kind = static_cast<Refusal::Kind>(k);
        std::optional<TextId> id = refusal_text_id(kind);
        if (kind == Refusal::NotUsb) {
            EXPECT_EQ(id, std::nullopt);
            continue;
        }
        ASSERT_TRUE(id) << k;
        EXPECT_EQ(pos(*id), expected.at(kind)) << k;
    }
    EXPECT_EQ(refusal_phrase(english(), Refusal{Refusal::TooSmall, "", 8000000000}),
              "Too small · needs 8.0 GB");
    EXPECT_EQ(refusal_phrase(english(), Refusal{Refusal::Undetermined, "registry read failed", 0}),
              "safety check unavailable");
    EXPECT_EQ(refusal_phrase(english(), Refusal{Refusal::NotUsb, "", 0}), "");
}

TEST(I18nMessages, RefusedRowShowsItsFirstReason) {
    auto status = [](const std::vector<Refusal>& refusals, Language language = Language::English) {
        return drive_row_status(string_table(language), refusals);
    };
    EXPECT_EQ(status({}), "");
    EXPECT_EQ(status({{Refusal::NoMedia, "", 0}}), "No media");
    EXPECT_EQ(status({{Refusal::TooSmall, "", 6332416}}), "Too small · needs 6.3 MB");
    EXPECT_EQ(status({{Refusal::Windows, "", 0}, {Refusal::SystemDrive, "", 0}}),
              "Protected · contains Windows");
    EXPECT_EQ(status({{Refusal::Undetermined, "x", 0}, {Refusal::NoMedia, "", 0}}),
              "Protected · safety check unavailable");
    // Not being USB has no phrase of its own; the next reason speaks.
    EXPECT_EQ(status({{Refusal::NotUsb, "", 0}, {Refusal::Pagefile, "", 0}}),
              "Protected · used by Windows memory");
    EXPECT_EQ(status({{Refusal::NotUsb, "", 0}}), "This drive is protected.");
    EXPECT_EQ(status({{Refusal::Executable, "", 0}}, Language::Spanish),
              "Protegida · Stickwright se ejecuta desde ella");
    EXPECT_EQ(status({{Refusal::TooSmall, "", 8000000000}}, Language::Chinese),
              "容量不足 · 需要 8.0 GB");
    // Every kind, alone, gives a non-empty status: a refused row never looks writable.
    for (int k = 0; k <= Refusal::TooSmall; ++k) {
        for (Language language : kLanguages) {
            EXPECT_FALSE(status({{static_cast<Refusal::Kind>(k), "t", 1}}, language).empty()) << k;
        }
    }
}

TEST(I18nMessages, EveryWriteFailureHasTitleAndAdvice) {
    using J = JobError::Kind;
    using P = PipelineError::Kind;
    const std::map<J, std::pair<size_t, size_t>> job = {
        {J::Protected, {131, 132}}, {J::IdentityChanged, {129, 130}}, {J::InUse, {117, 118}},
        {J::NotWritable, {32, 33}}, {J::AccessDenied, {133, 134}},    {J::Message, {135, 136}},
    };
    const std::map<P, std::pair<size_t, size_t>> pipeline = {
        {P::ImageRead, {125, 126}},          {P::DeviceWrite, {121, 122}},
        {P::DeviceDisconnected, {119, 120}}, {P::DeviceFlush, {121, 122}},
        {P::HashMismatch, {127, 128}},       {P::ReadBack, {123, 124}},
        {P::ContentMismatch, {123, 124}},    {P::DeviceTooSmall, {121, 122}},
        {P::Cancelled, {135, 136}},          {P::Refused, {129, 130}},
    };
    auto pair_of = [](FailureTextIds ids) {
        return std::make_pair(pos(ids.title), pos(ids.advice));
    };
    for (int k = 0; k <= static_cast<int>(J::Message); ++k) {
        auto kind = static_cast<J>(k);
        if (kind == J::Pipeline) continue;
        ASSERT_TRUE(job.count(kind)) << kind_name(kind);
        EXPECT_EQ(pair_of(job_failure_text_ids(JobError::of(kind, "detail"))), job.at(kind))
            << kind_name(kind);
    }
    for (int k = 0; k <= static_cast<int>(P::Refused); ++k) {
        auto kind = static_cast<P>(k);
        ASSERT_TRUE(pipeline.count(kind)) << kind_name(kind);
        EXPECT_EQ(pair_of(pipeline_failure_text_ids(kind)), pipeline.at(kind)) << kind_name(kind);
        JobError error = JobError::of_pipeline(PipelineError::of(kind, "x"));
        EXPECT_EQ(job_failure_text_ids(error), pipeline_failure_text_ids(kind));
    }
}

TEST(I18nMessages, EveryDownloadFailureHasTitleAndHint) {
    using K = DownloadError::Kind;
    // Only a download that stopped on the way says "did not complete"; one
    // that arrived damaged is a damaged image.
    const std::map<K, std::pair<size_t, size_t>> expected = {
        {K::Cancelled, {146, 147}}, {K::Failed, {146, 147}},  {K::Corrupted, {45, 141}},
        {K::TooLarge, {146, 161}},  {K::NoSpace, {146, 162}},
    };
    for (const auto& [kind, texts] : expected) {
        FailureTextIds ids = download_failure_text_ids(kind);
        EXPECT_EQ(std::make_pair(pos(ids.title), pos(ids.advice)), texts)
            << DownloadError{kind, ""}.describe();
    }
}

TEST(I18nMessages, FailureMessageCarriesTheTechnicalText) {
    JobError protected_error = JobError::protected_by({{Refusal::SystemDrive, "", 0}});
    FailureMessage m = job_failure_message(string_table(Language::Spanish), protected_error);
    EXPECT_EQ(m.title, "Esta unidad está protegida.");
    EXPECT_EQ(m.advice, "Forma parte del sistema en ejecución y no se puede borrar.");
    EXPECT_EQ(m.details, protected_error.text());
    EXPECT_FALSE(m.details.empty());

    JobError write_error =
        JobError::of_pipeline(PipelineError::of(PipelineError::Kind::DeviceWrite, "at byte 0"));
    FailureMessage w = job_failure_message(string_table(Language::Chinese), write_error);
    EXPECT_EQ(w.title, "USB 驱动器已停止接受数据。");
    EXPECT_EQ(w.details, write_error.text());
}

}  // namespace
}  // namespace sw
