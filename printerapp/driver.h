// The printer application's side of PAPPL: the driver list, driver data,
// job callbacks and the recognition of jobs already in the printer's language.
#pragma once

#include <pappl/pappl.h>

#include <vector>

namespace vexo::app {

// MIME type of a job already in the printer's language; passed through raw.
inline constexpr const char* kNativeFormat = "application/vnd.vexo-jobstream";

// PAPPL's driver table, built from the catalogue; lives as long as the process.
std::vector<pappl_pr_driver_t>& driverTable();

const char* autoAddCallback(const char* deviceInfo, const char* deviceUri, const char* deviceId, void* data);

bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri, const char* deviceId,
                    pappl_pr_driver_data_t* data, ipp_t** attrs, void* cbdata);

// Gives a new printer its toner supply, level unknown until the printer is read.
void createCallback(pappl_printer_t* printer, void* data);

// Recognises the printer's own job stream by its first command.
const char* mimeCallback(const unsigned char* header, size_t size, void* data);

}  // namespace vexo::app
