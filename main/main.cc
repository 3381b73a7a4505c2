#include "main/app_entry.h"

int main(int argc, char** argv) { return AppMain(argc, argv); }
