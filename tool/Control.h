// Control mode: one command about the Dispatcher, a node, a job or a chunk, and the query
// selection that shows the affected object afterwards.
#ifndef ZDTOOL_CONTROL_H
#define ZDTOOL_CONTROL_H

#include <initializer_list>

// Message codes of the control commands.
namespace zdControlCode {
constexpr unsigned char kSelectionLogic = 0x24;
constexpr unsigned char kSoftRestart = 0xB7;
constexpr unsigned char kChangePassword = 0xBE;
constexpr unsigned char kPasswordResult = 0xBF;
constexpr unsigned char kResetStatistics = 0xC1;
constexpr unsigned char kNodeSoftRestart = 0xB5;
constexpr unsigned char kChunkRequeue = 0x41;
constexpr unsigned char kChunkComplete = 0x42;
}  // namespace zdControlCode

// Runs the command the run settings select. 0 when the run goes on; -1 when it must end (a
// receive failed or a password could not be encoded; any message is printed).
int runControlMode();

// Pauses 100 ms before each receive and drops messages until one of `codes` arrives; false
// (message printed) when a receive fails.
bool waitPausedFor(std::initializer_list<unsigned char> codes);

#endif
