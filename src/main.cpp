#include "engine.h"

int main() { return engine_main(); }
