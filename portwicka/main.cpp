// portwicka: one transfer with a BHT terminal, as its command line says.
#include "portwicka/console_program.h"

int main(int argc, char** argv) { return pw::RunConsolePortwickA(argc, argv); }
