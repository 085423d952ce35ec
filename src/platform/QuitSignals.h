#pragma once

class QApplication;

// Turns SIGTERM, SIGINT and SIGHUP (a session that ends, Ctrl+C in a terminal) into closing the
// program's windows, so that closing runs as if the user had closed the main window.
namespace QuitSignals {
void install(QApplication* app);
}
