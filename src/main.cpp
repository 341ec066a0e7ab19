#include "uci.h"

int main(int argc, char** argv) { return uci_main(argc, argv); }
