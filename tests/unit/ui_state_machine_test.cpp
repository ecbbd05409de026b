// The phases, events and the whole transition table of the window.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "ui/app_state.h"

namespace sw {
namespace {

using P = AppPhase;
using E = EventKind;

AppEvent ev(E kind) {
    return AppEvent::of(kind);
}
AppEvent entered(WritePhase p) {
    return AppEvent::phase_entered(p);
}

// The table as the product's documentation lists it, row by row.
std::vector<std::tuple<P, AppEvent, P>> documented_table() {
    std::vector<std::tuple<P, AppEvent, P>> rows = {
        {P::Idle, ev(E::ImagePicked), P::ImageSelected},
        {P::Idle, ev(E::DownloadStarted), P::Downloading},
        {P::Downloading, ev(E::DownloadFinished), P::ImageSelected},
        {P::Downloading, ev(E::DownloadStopped), P::Idle},
        {P::ImageSelected, ev(E::ValidationStarted), P::ValidatingImage},
        {P::ImageSelected, ev(E::ImageRefused), P::Idle},
        {P::ValidatingImage, ev(E::ImageAccepted), P::ImageReady},
        {P::ValidatingImage, ev(E::ImageRefused), P::Idle},
        {P::ImageReady, ev(E::ImagePicked), P::ImageSelected},
        {P::ImageReady, ev(E::DownloadStarted), P::Downloading},
        {P::DeviceReady, ev(E::ImagePicked), P::ImageSelected},
        {P::DeviceReady, ev(E::DownloadStarted), P::Downloading},
        {P::DeviceReady, ev(E::DeviceSelected), P::DeviceReady},
        {P::DeviceReady, ev(E::DeviceCleared), P::ImageReady},
        {P::DeviceReady, ev(E::CreatePressed), P::Confirming},
        {P::Confirming, ev(E::DeviceCleared), P::ImageReady},
        {P::Confirming, ev(E::ConfirmAccepted), P::Preparing},
        {P::Confirming, ev(E::ConfirmDismissed), P::DeviceReady},
        {P::Preparing, entered(WritePhase::Preparing), P::Preparing},
        {P::Preparing, entered(WritePhase::Writing), P::Writing},
        {P::Writing, entered(WritePhase::Writing), P::Writing},
        {P::Writing, entered(WritePhase::Flushing), P::Flushing},
        {P::Flushing, entered(WritePhase::Verifying), P::Verifying},
        {P::Verifying, entered(WritePhase::Finishing), P::Ejecting},
        {P::Verifying, ev(E::EjectStarted), P::Ejecting},
        {P::Ejecting, ev(E::Completed), P::Complete},
    };
    for (P p : {P::Idle, P::Downloading, P::ImageSelected, P::ValidatingImage, P::ImageReady}) {
        rows.push_back({p, ev(E::DeviceSelected), p == P::ImageReady ? P::DeviceReady : p});
        rows.push_back({p, ev(E::DeviceCleared), p});
    }
    for (P p : {P::Preparing, P::Writing, P::Flushing, P::Verifying})
        rows.push_back({p, ev(E::Stopped), P::Cancelled});
    for (P p : {P::Preparing, P::Writing, P::Flushing, P::Verifying, P::Ejecting})
        rows.push_back({p, ev(E::Errored), P::Failed});
    for (P p : {P::Complete, P::Cancelled, P::Failed})
        rows.push_back({p, ev(E::Reset), P::Idle});
    // A restore needs no image: it starts from any quiet setup phase.
    for (P p : {P::Idle, P::ImageReady, P::DeviceReady})
        rows.push_back({p, ev(E::RestoreAccepted), P::Preparing});
    return rows;
}

TEST(UiTransitionTable, EveryPairIsAsDocumentedAndNothingElseMoves) {
    std::map<std::pair<int, int>, P> expected;
    for (auto& [from, event, to] : documented_table())
        expected[{static_cast<int>(from), encode_event(event)}] = to;
    int listed = 0;
    for (int p = 0; p < kPhaseCount; ++p) {
        for (int code = 0; code <= 23; ++code) {
            if (code == 17) continue;  // the unused slot
            auto event = decode_event(static_cast<uint8_t>(code));
            ASSERT_TRUE(event) << code;
            auto got = transition(static_cast<P>(p), *event);
            auto it = expected.find({p, code});
            if (it == expected.end()) {
                EXPECT_FALSE(got) << phase_name(static_cast<P>(p)) << " + " << event_name(*event)
                                  << " gave " << phase_name(*got);
            } else {
                ++listed;
                ASSERT_TRUE(got) << phase_name(static_cast<P>(p)) << " + " << event_name(*event);
                EXPECT_EQ(*got, it->second)
                    << phase_name(static_cast<P>(p)) << " + " << event_name(*event);
            }
        }
    }
    EXPECT_EQ(listed, static_cast<int>(expected.size()));
}

TEST(UiTransitionTable, ImpliedRules) {
    // A pick during validation is dropped.
    EXPECT_FALSE(transition(P::ImageSelected, ev(E::ImagePicked)));
    EXPECT_FALSE(transition(P::ValidatingImage, ev(E::ImagePicked)));
    // Once ejecting, a stop no longer cancels.
    EXPECT_FALSE(transition(P::Ejecting, ev(E::Stopped)));
    // A job that skipped the read-back: Flushing cannot jump to Ejecting.
    EXPECT_FALSE(transition(P::Flushing, entered(WritePhase::Finishing)));
    EXPECT_EQ(transition(P::Verifying, entered(WritePhase::Finishing)), P::Ejecting);
    // Reset leaves only the end phases.
    for (int p = 0; p < kPhaseCount; ++p) {
        auto phase = static_cast<P>(p);
        bool end = phase == P::Complete || phase == P::Cancelled || phase == P::Failed;
        EXPECT_EQ(transition(phase, ev(E::Reset)).has_value(), end) << phase_name(phase);
    }
    // No way out of a running write except forward, Stopped, Errored or Completed.
    for (P p : {P::Preparing, P::Writing, P::Flushing, P::Verifying, P::Ejecting}) {
        for (int code = 5; code <= 23; ++code) {
            if (code == 17) continue;
            auto event = *decode_event(static_cast<uint8_t>(code));
            if (event.kind == E::Stopped || event.kind == E::Errored ||
                event.kind == E::Completed || event.kind == E::EjectStarted)
                continue;
            EXPECT_FALSE(transition(p, event)) << phase_name(p) << " " << event_name(event);
        }
    }
}

TEST(UiEvents, ByteEncodingAndNames) {
    EXPECT_EQ(encode_event(entered(WritePhase::Preparing)), 0);
    EXPECT_EQ(encode_event(entered(WritePhase::Finishing)), 4);
    EXPECT_EQ(encode_event(ev(E::ImagePicked)), 5);
    EXPECT_EQ(encode_event(ev(E::ConfirmDismissed)), 16);
    EXPECT_EQ(encode_event(ev(E::EjectStarted)), 18);
    EXPECT_EQ(encode_event(ev(E::Completed)), 19);
    EXPECT_EQ(encode_event(ev(E::Stopped)), 20);
    EXPECT_EQ(encode_event(ev(E::Errored)), 21);
    EXPECT_EQ(encode_event(ev(E::Reset)), 22);
    EXPECT_EQ(encode_event(ev(E::RestoreAccepted)), 23);
    // Slot 17 would be PhaseEntered's own: it decodes to nothing, as does anything past 23.
    std::set<uint8_t> seen;
    for (int code = 0; code <= 23; ++code) {
        auto e = decode_event(static_cast<uint8_t>(code));
        if (code == 17) {
            EXPECT_FALSE(e);
            continue;
        }
        ASSERT_TRUE(e) << code;
        EXPECT_EQ(encode_event(*e), code);
        seen.insert(static_cast<uint8_t>(code));
    }
    EXPECT_EQ(seen.size(), 23u);
    EXPECT_FALSE(decode_event(24));
    EXPECT_FALSE(decode_event(255));
    EXPECT_EQ(event_name(ev(E::ConfirmAccepted)), "ConfirmAccepted");
    EXPECT_EQ(event_name(entered(WritePhase::Verifying)), "PhaseEntered(Verifying)");
    EXPECT_EQ(phase_name(P::ValidatingImage), "ValidatingImage");
    EXPECT_EQ(phase_name(P::Failed), "Failed");
}

TEST(UiPhases, ScreensAndSets) {
    EXPECT_EQ(screen_of(P::Confirming), ScreenKind::Setup);
    EXPECT_EQ(screen_of(P::Preparing), ScreenKind::Progress);
    EXPECT_EQ(screen_of(P::Ejecting), ScreenKind::Progress);
    EXPECT_EQ(screen_of(P::Complete), ScreenKind::Complete);
    EXPECT_EQ(screen_of(P::Cancelled), ScreenKind::Cancelled);
    EXPECT_EQ(screen_of(P::Failed), ScreenKind::Failed);
    EXPECT_TRUE(is_setup_idle(P::DeviceReady));
    EXPECT_FALSE(is_setup_idle(P::Downloading));
    EXPECT_TRUE(is_write_in_progress(P::Ejecting));
    EXPECT_FALSE(is_write_in_progress(P::Complete));
}

TEST(UiElements, IdentityComparesParametersOnlyWhereTheyMatter) {
    EXPECT_EQ((ElementId{UiAction::Create, 1}), (ElementId{UiAction::Create, 2}));
    EXPECT_NE((ElementId{UiAction::SelectDrive, 1}), (ElementId{UiAction::SelectDrive, 2}));
    EXPECT_NE((ElementId{UiAction::SetTheme, 0}), (ElementId{UiAction::SetTheme, 1}));
    EXPECT_NE((ElementId{UiAction::SetLanguage, 0}), (ElementId{UiAction::SetLanguage, 2}));
    EXPECT_TRUE(ElementId{}.is_none());
    EXPECT_EQ(static_cast<int>(UiAction::None), 24);
}

}  // namespace
}  // namespace sw
