// tablink: the table transfer server, headless.
#include "tablink/console_program.h"

int main(int argc, char** argv) { return pw::tablink::RunConsoleTablink(argc, argv); }
