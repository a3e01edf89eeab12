#include "driver/run.h"

int main(int argc, char** argv) { return RunTarnsek(argc, argv); }
