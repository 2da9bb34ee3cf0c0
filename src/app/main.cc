// Program entry of KOLVA.
#include "app/run.h"

int main(int argc, char** argv) { return RunProgram(argc, argv); }
