#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "CommandResult.h"
#include "Programmer.h"

namespace velkor {

// Checks the port, the cable and the chip one step at a time and says in
// plain words what it found and what to check next. It never writes to the
// chip: it sends Programming Enable, reads, and drives the cable's pins.
class CableDoctor {
public:
    // candidates: the cables tried when the chip does not answer on the one
    // in use (the known ones and the user's).
    CableDoctor(Programmer& programmer, std::vector<const Cable*> candidates)
        : programmer_(programmer), candidates_(std::move(candidates))
    {
    }

    // The whole check, in a command frame: succeeds when the chip answers on
    // the cable in use.
    CommandResult Examine();
    // Toggles the output pin about once a second, the cable otherwise let go,
    // until stopped.
    CommandResult Toggle(std::uint8_t pin);
    // Logs the status pin's level at the start and whenever it changes,
    // until stopped.
    CommandResult Watch(std::uint8_t pin);

private:
    enum class Echo { Answered, StuckHigh, StuckLow, OneBitOff, SameWrongAnswer, Varying };

    bool ExamineInFrame();
    void CheckDataRegister();
    Echo ListenToProgrammingEnable();
    bool AnswersWith(const Cable& cable, std::optional<std::uint32_t> paceClockHz = std::nullopt);
    void ExplainSilence(Echo echo);
    void AdviseChecks(Echo echo);
    bool TryOtherWirings();
    void ReportChip();

    Programmer& programmer_;
    std::vector<const Cable*> candidates_;
};

}  // namespace velkor
