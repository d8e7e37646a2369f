// Varko, the instrument with its window.
#include "ui/Program.h"

int main(int argc, char** argv) {
    return varko::RunVarko(argc, argv);
}
