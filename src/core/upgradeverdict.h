#pragma once

// How an upgrade run went: judged in tool/, told to the user from text/.
// AbnormalEnd: the tool failed or was stopped, whatever it printed.
enum class UpgradeVerdict { Success, Failed, AbnormalEnd };
