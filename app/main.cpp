// dormane: the wizard.
#include "Options.h"

int main(int argc, char** argv) {
    return RunDormane(argc, argv);
}
