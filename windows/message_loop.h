// windows/message_loop.h
// The process's message loop, the one dispatch path of every message taken
// from the queue, and the built-ins that let a busy program pump messages.
#pragma once

#include <cstdint>

#include "platform/message_queue.h"

namespace qob {

struct ProgramContext;

// The private message that ends an application: wParam 0, lParam the context.
constexpr uint32_t kEndApplicationMessage = 0x8001;

// Set when the message loop ends; stays set.
extern bool QuitRequested;

// Gives one message taken from the queue its processing. An end-application
// message ends the context its lParam names once the message has been
// dispatched; an lParam that is no live context is ignored. A context whose
// code is running stops and ends when its outermost run returns.
void DispatchAppMessage(const platform::MSG& message);

// Takes the oldest pending message of the thread into message and dispatches
// it: 1 when one was handled, 0 when the queue was empty.
int PumpOneMessage(platform::MSG* message);

// Runs after start-up until no context is left. It waits for messages only
// while some context has a window, or while an application that is ending
// still has a run on a script thread (it ends that application once the run
// has stopped): otherwise, with nothing pending, it returns at once. WM_QUIT
// does not end it. Script threads run while it waits. When nothing can
// arrive any more, the window manager's idle policy decides: it waits, or
// closes the visible windows and then every application left ends, or (in
// unit tests) the loop returns.
void MessageLoop();

// handlemessage (): handles at most one pending message.
void Builtin_handlemessage();
// processmessages (): handles every pending message; it returns at once when
// the running application is being ended.
void Builtin_processmessages();
}  // namespace qob
