// torvane: the launcher in its skinned window (see src/gtk/GtkLauncher.h).

#include "gtk/GtkLauncher.h"

int main(int argc, char** argv) {
    return RunGtkLauncher(argc, argv);
}
