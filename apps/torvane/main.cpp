// torvane: the launcher in its skinned window (see src/ui/gtk/GtkLauncher.h).

#include "ui/gtk/GtkLauncher.h"

int main(int argc, char** argv) {
    return RunGtkLauncher(argc, argv);
}
