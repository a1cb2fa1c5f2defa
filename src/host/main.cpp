// build/vantor: the interpreter executable. Everything lives in libvantor; this file only hands the
// process over to it.
#include "host/exports.h"

int main(int argc, char** argv) { return Vantor_Main(argc, argv); }
