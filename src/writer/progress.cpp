#include "writer/progress.h"

namespace sw {

std::string_view phase_name(WritePhase phase) {
    switch (phase) {
        case WritePhase::Preparing:
            return "Preparing";
        case WritePhase::Writing:
            return "Writing";
        case WritePhase::Flushing:
            return "Flushing";
        case WritePhase::Verifying:
            return "Verifying";
        case WritePhase::Finishing:
            return "Finishing";
    }
    return "Preparing";
}

std::string_view step_name(PrepareStep step) {
    switch (step) {
        case PrepareStep::Checking:
            return "Checking";
        case PrepareStep::Locking:
            return "Locking";
        case PrepareStep::Dismounting:
            return "Dismounting";
        case PrepareStep::Opening:
            return "Opening";
        case PrepareStep::Clearing:
            return "Clearing";
    }
    return "Checking";
}

WritePhase phase_from_byte(uint8_t value) {
    return value > 4 ? WritePhase::Preparing : static_cast<WritePhase>(value);
}

PrepareStep step_from_byte(uint8_t value) {
    return value > 4 ? PrepareStep::Checking : static_cast<PrepareStep>(value);
}

}  // namespace sw
