#include "SimulatedBoards.h"

#include <stdexcept>

namespace velkor::sim {

SimulatedBoards::SimulatedBoards(std::vector<PlannedBoard> plan, std::optional<std::uint32_t> chipClockHz)
    : port_(clock_, nullptr), plan_(std::move(plan)), chipClockHz_(chipClockHz)
{
    for (const PlannedBoard& board : plan_) {
        const ChipModel* model = FindChipModel(board.chip);
        if (model == nullptr) {
            throw std::invalid_argument("No simulated chip is called \"" + board.chip + "\".");
        }
        models_.push_back(model);
    }
}

void SimulatedBoards::Update()
{
    const std::uint64_t now = clock_.NowNanoseconds();
    if (now < nextEventNs_) {
        return;
    }
    const std::optional<ChipInputs> lines = port_.LinesAtChip();
    if (present_ && (!lines || lines->reset)) {
        port_.Attach(nullptr);
        present_ = false;
        nextEventNs_ = now + kArrivalNs;
    } else if (!present_ && arrived_.size() < plan_.size()) {
        const std::size_t index = arrived_.size();
        arrived_.push_back(std::make_unique<SimulatedChip>(*models_[index], clock_, chipClockHz_));
        arrived_.back()->InjectedFaults() = plan_[index].faults;
        port_.Attach(arrived_.back().get());
        present_ = true;
        nextEventNs_ = now + kStayNs;
    }
}

bool SimulatedBoards::Exhausted()
{
    Update();
    return !present_ && arrived_.size() == plan_.size();
}

SimulatedChip* SimulatedBoards::Board(std::size_t index)
{
    return index < arrived_.size() ? arrived_[index].get() : nullptr;
}

std::size_t SimulatedBoards::ViolationCount() const
{
    std::size_t count = 0;
    for (const auto& chip : arrived_) {
        count += chip->TimingViolationCount();
    }
    return count;
}

void SimulatedBoards::WritePortUchar(std::uint16_t port, std::uint8_t value)
{
    Update();
    port_.WritePortUchar(port, value);
}

std::uint8_t SimulatedBoards::ReadPortUchar(std::uint16_t port)
{
    Update();
    return port_.ReadPortUchar(port);
}

}  // namespace velkor::sim
