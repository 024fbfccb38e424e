#include "app/shell/Application.h"

int main(int argc, char** argv) { return tessoral::runApplication(argc, argv); }
