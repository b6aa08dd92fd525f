// SPDX-License-Identifier: GPL-2.0-or-later
// The archive's commands: `wx118 archive rebuild [LOG...]` and
// `wx118 summary --month YYYY-MM | --year YYYY`. Both return the exit status.
#pragma once
#include <string>
#include <vector>

namespace wx {

int RunArchiveCommand(const std::vector<std::string>& args);
int RunSummaryCommand(const std::vector<std::string>& args);
std::string ArchiveUsageText();

}  // namespace wx
