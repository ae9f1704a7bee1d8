// zdtool's one connection to the Dispatcher: connect, log in, status, and the blocking send and
// receive primitives every conversation uses.
#ifndef ZDTOOL_CONNECTION_H
#define ZDTOOL_CONNECTION_H

#include <cstdint>
#include <string>
#include "MessageCodes.h"
#include "Payloads.h"
#include "ToolSocket.h"

// The protocol version this tool speaks.
using zdProtocol::kProtocolVersion;
// Largest frame (length field or inflated text) the tool accepts from the Dispatcher.
constexpr uint32_t kMaxFrameBytes = 64u * 1024u * 1024u;

extern zdSocketHandle s;
extern char* rcvbuf;
extern uint32_t rcvbuf_size;
extern uint32_t rcvbuf_bytesin;
extern char* rcvargs;
extern uint32_t rcvargs_size;
extern char message[2];
extern int protocol_version;
extern std::string dispatcher_version;
extern int selectionLogic;

// Allocates the two 4096-byte buffers; releaseBuffers frees them.
void allocateBuffers();
void releaseBuffers();
void ResizeRcvBuf(uint32_t newSize);
void ResizeParamBuf(uint32_t newSize);

// Start-up steps; each prints its own failure and returns false when the run must end.
bool connectToDispatcher();
bool loginToDispatcher();
// Sends a status request and reads the reply; `apply` stores version and selection logic.
bool requestStatus(bool apply);

// Sends one frame (encoding 0 for an empty payload, 1 otherwise), after any queued ones.
// Failures show in the next receive.
void sendMsg(const char* code, const char* text);
void sendMsg(unsigned char code, const std::string& text);
// Queues a frame; queued frames go out in one send before the tool next waits for bytes, so a
// listing the Dispatcher streams costs one send per batch of acknowledgements, not one each.
void queueMsg(unsigned char code, const std::string& text);
void flushMsgs();
// Receives the next complete frame into `message` and `rcvargs`; false when the connection
// failed, the frame was refused or it did not inflate.
bool getNextMsg();
// getNextMsg that prints the socket failure; every wait of the tool ends through it.
bool receiveMsg();
// Drops messages until `code` arrives; false (message printed) on a receive failure.
bool waitForMsg(unsigned char code);

// Line n (from 1) of `text` without its line feed; empty for 0 or a missing line.
std::string getstringline(const char* text, int lineNumber);

// False, with the reason printed, when a send timed out and no receive has reported it yet;
// a run that ends this way has not done what it was asked.
bool connectionFinishedCleanly();

// Closes the socket and releases the buffers.
void closeConnection();

#endif
