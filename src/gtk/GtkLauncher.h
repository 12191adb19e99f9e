#pragma once
// The window launcher: start-up with the GTK front end. Returns the process exit status.

int RunGtkLauncher(int argc, char** argv);
