// One driver per model of the catalogue in force, and the automatic choice
// of a driver for a found device.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexo::app {

struct DriverInfo {
    std::string name;          // "vexo" for the model "VEXO"
    std::string description;   // make and model
    std::string deviceId;      // what PAPPL matches a device ID against
    std::string model;         // the catalogue's model name
};

inline constexpr const char* kMake = "Vexo";

// The drivers of the catalogue in force, in catalogue order.
const std::vector<DriverInfo>& catalogueDrivers();

// The driver for a device, or empty when it is none of ours: a USB device of
// our vendor with a catalogue product ID (in its device ID or URI) or naming
// a catalogue model, or a network printer on socket://ADDRESS:9100.
std::string autoAddDriver(std::string_view deviceUri, std::string_view deviceId);

}  // namespace vexo::app
