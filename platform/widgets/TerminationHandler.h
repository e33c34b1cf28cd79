#pragma once

class QWidget;

// Closes window through its normal close when the process receives SIGTERM, SIGINT or
// SIGHUP (a session logout, Ctrl+C in a terminal), so settings are saved as on a click.
void closeOnTerminationSignals(QWidget* window);
