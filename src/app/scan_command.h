// SPDX-License-Identifier: GPL-2.0-or-later
// `wx118 scan`: the chips on the bus and a draft primary file.
#pragma once
#include <string>
#include <vector>

namespace wx {

// args without "scan"; returns the exit status.
int RunScanCommand(const std::vector<std::string>& args);

}  // namespace wx
