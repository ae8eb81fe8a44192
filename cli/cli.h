// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Exit codes: 0 every input done, 1 an input failed or the job was refused,
// 2 usage error.
int RunCli(int argc, char** argv);
