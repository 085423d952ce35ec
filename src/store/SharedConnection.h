#pragma once

// Inside the store: the shared connection on a server, as the unit runner needs it, and the count
// of units under way on this thread.
namespace SharedConnection {

// Whether the shared connection is on a server.
bool isServer();
// Opens the shared server connection again. Throws AppError with the server's text when the
// server does not answer (the state notifier is told either way).
void reopen();
// Opens it again when the server has closed it meanwhile (a restart, an idle timeout); nothing
// for the file, or on another thread.
void reopenIfClosed();

} // namespace SharedConnection

namespace UnitDepth {
void enter();
void leave();
} // namespace UnitDepth
