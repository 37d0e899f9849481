#pragma once

#include <filesystem>

#include "host/diagnose_report.h"

// tarvona-host --diagnose [--json]: what support needs to see when "it does
// not work". Nothing secret is read or printed: no PIN is asked for, no
// token is logged in to, and of certificates only subjects and serial
// numbers appear.
namespace tarvona::host::diagnose {

// Prints the report on standard output, as text or as one JSON object;
// the exit status: 0 when nothing on the road is broken, else 1.
int Run(bool json);

// The sections, in the order the report gives them.
void CheckProduct(Report& report);
// The control's module file when the record names one that loads, else
// empty.
std::filesystem::path CheckRegistration(Report& report);
void CheckBrowsers(Report& report);
// Tarvonav4.dll and Tarvonav5.dll as the control in `control_folder`
// finds them (diagnose_tokens.cpp).
void CheckTokenModules(Report& report, const std::filesystem::path& control_folder);
void CheckStore(Report& report);
void CheckPolicy(Report& report);
// Creating the control by its ProgID, as every host does; reported under
// the registration.
void CheckCreation(Report& report);

}  // namespace tarvona::host::diagnose
