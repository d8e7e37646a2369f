// Varko, the instrument with its window. The window's layer defines the entry point; nothing here
// includes it, so the window stays the top of the layers it draws on.
namespace varko {
int RunVarko(int& argc, char** argv);
}

int main(int argc, char** argv) {
    return varko::RunVarko(argc, argv);
}
