// Control mode: one command about the Dispatcher, a node, a job or a chunk, and the query
// selection that shows the affected object afterwards.
#ifndef ZDTOOL_CONTROL_H
#define ZDTOOL_CONTROL_H

#include <initializer_list>
#include "MessageCodes.h"

// Runs the command the run settings select. 0 when the run goes on; -1 when it must end (a
// receive failed or a password could not be encoded; any message is printed).
int runControlMode();

// Pauses 100 ms before each receive and drops messages until one of `codes` arrives; false
// (message printed) when a receive fails.
bool waitPausedFor(std::initializer_list<unsigned char> codes);

#endif
