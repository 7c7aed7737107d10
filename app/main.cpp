// The program a user runs.
#include "app/program.h"

int main(int argc, char** argv) {
    return qm::app::runProgram(argc, argv);
}
