// corvel-store: command-line access to the message store engine.
#include <iostream>

#include "tools/store_tool.h"

int main(int argc, char** argv) { return RunStoreTool(argc, argv, std::cout, std::cerr); }
