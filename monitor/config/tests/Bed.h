#pragma once

#include "NetworkModel.h"
#include "Printer.h"
#include "SimulatedPrinter.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A simulated printer behind one of the carriers, for the same scenarios
// over the command port and over USB.
class Bed {
public:
    // Bytes to answer a command with, or nothing to stay silent.
    using Script = std::function<std::optional<std::string>(std::string_view command)>;

    virtual ~Bed() = default;
    virtual vexo::sim::SimulatedPrinter& sim() = 0;
    // The printer to select, attached by this carrier.
    virtual Printer printer() = 0;
    virtual NetworkModel::Carriers carriers() = 0;
    virtual void setScript(Script script) = 0;
    // Commands as the printer received them.
    virtual std::vector<std::string> received() = 0;
};

std::unique_ptr<Bed> makeBed();
